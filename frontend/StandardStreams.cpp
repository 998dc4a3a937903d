#include "frontend/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void OpenMissingStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is this one: the lower ones are open by now.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

int PrintAnswer(const char* program, const char* text) {
    errno = 0;
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    const int error = errno ? errno : EIO;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program, std::strerror(error));
    return 1;
}
