// pacterra-read-floor FILE: reads the whole file into one freshly allocated buffer of its size, the least
// work any loader must do (compare.sh times file loads against it). Prints the byte count.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pacterra-read-floor FILE\n");
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const size_t size = static_cast<size_t>(st.st_size);
    char* buffer = static_cast<char*>(std::malloc(size ? size : 1));
    if (!buffer) {
        std::fprintf(stderr, "out of memory\n");
        return 1;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0) {
            std::perror(argv[1]);
            return 1;
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    // One byte per page is read back, so the compiler cannot drop the buffer.
    unsigned sum = 0;
    for (size_t i = 0; i < done; i += 4096)
        sum += static_cast<unsigned char>(buffer[i]);
    std::printf("%zu bytes (%u)\n", done, sum);
    std::free(buffer);
    ::close(fd);
    return 0;
}
