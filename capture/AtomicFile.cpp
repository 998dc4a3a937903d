#include "capture/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kFlushBytes = size_t{1} << 20;

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int WriteAllAt(int fd, const char* data, size_t length) {
    for (size_t done = 0; done < length;) {
        const ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Overwrites the regular file `path` with `bytes`, for a folder where no new file can be made. The room for
// the new bytes is reserved before any old byte changes, and the old bytes are written back should the
// writing fail all the same. 0, or the errno of the failure.
int OverwriteInPlace(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return fail(errno);
    if (!S_ISREG(st.st_mode))
        return fail(EINVAL);
    std::string old(static_cast<size_t>(st.st_size), '\0');
    for (size_t done = 0; done < old.size();) {
        const ssize_t n = ::pread(fd, old.data() + done, old.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    if (int error = ::posix_fallocate(fd, 0, static_cast<off_t>(bytes.size())); error != 0) {
        (void)::ftruncate(fd, st.st_size);
        return fail(error);
    }
    int error = WriteAllAt(fd, bytes.data(), bytes.size());
    if (error == 0 && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (error != 0) {
        (void)WriteAllAt(fd, old.data(), old.size());
        (void)::ftruncate(fd, st.st_size);
        (void)::fsync(fd);
    }
    ::close(fd);
    return error;
}

mode_t ReadUmask() {
    mode_t mask = 022;  // the usual one, should /proc not say
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8)) & 0777;
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

}  // namespace

mode_t ProcessUmask() {
    static const mode_t mask = ReadUmask();
    return mask;
}

AtomicFileWriter::AtomicFileWriter(std::string path) : m_path(std::move(path)) {}

AtomicFileWriter::~AtomicFileWriter() {
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

bool AtomicFileWriter::Fail(int error) {
    if (m_error.empty())
        m_error = m_path + ": " + std::strerror(error);
    return false;
}

bool AtomicFileWriter::Refuse(const char* reason) {
    if (m_error.empty())
        m_error = m_path + ": " + reason;
    return false;
}

bool AtomicFileWriter::Open() {
    (void)ProcessUmask();  // read before the file exists, as a plain create would use it
    m_final = m_path;
    struct stat entry {};
    if (::lstat(m_path.c_str(), &entry) == 0) {
        // In a sticky world-writable folder (/tmp), a link someone else planted is not followed, as the
        // kernel's fs.protected_symlinks would refuse it: root's save would replace the file it names.
        struct stat folder {};
        if (S_ISLNK(entry.st_mode) && ::stat(DirectoryOf(m_path).c_str(), &folder) == 0 &&
            (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && entry.st_uid != ::geteuid() &&
            entry.st_uid != folder.st_uid)
            return Refuse(
                "it is a symbolic link owned by another user in a shared folder (sticky and writable by "
                "everyone); such a link is not followed");
        if (::stat(m_path.c_str(), &m_old) != 0)
            return errno == ENOENT ? Refuse("it is a symbolic link to a file that does not exist")
                                   : Fail(errno);
        if (S_ISDIR(m_old.st_mode))
            return Refuse("it is a directory");
        if (!S_ISREG(m_old.st_mode)) {
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
            return m_fd >= 0 || Fail(errno);
        }
        m_existed = true;
        if (char* real = ::realpath(m_path.c_str(), nullptr)) {
            m_final = real;
            std::free(real);
        }
    }
    std::string temporary = DirectoryOf(m_final) + "/." + NameOf(m_final) + ".XXXXXX";
    m_fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (m_fd >= 0) {
        m_temporary = std::move(temporary);
        return true;
    }
    const int error = errno;
    if (!m_existed || (error != EACCES && error != EPERM && error != EROFS) ||
        ::access(m_final.c_str(), W_OK) != 0)
        return Fail(error);
    m_inMemory = true;
    return true;
}

bool AtomicFileWriter::Flush() {
    size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    m_buffer.clear();
    return true;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
    if ((m_fd < 0 && !m_inMemory) || !m_error.empty())
        return false;
    m_buffer += bytes;
    return m_inMemory || m_buffer.size() < kFlushBytes || Flush();
}

bool AtomicFileWriter::CommitInPlace() {
    const int error = OverwriteInPlace(m_final, m_buffer);
    std::string().swap(m_buffer);
    m_inMemory = false;
    return error == 0 || Fail(error);
}

bool AtomicFileWriter::Commit() {
    if (!m_error.empty())
        return false;
    if (m_inMemory)
        return CommitInPlace();
    if (m_fd < 0 || !Flush())
        return false;
    if (!m_temporary.empty()) {
        // The replacement keeps the old file's owner and permissions (captured traffic may be private); the
        // owner first, as a change of owner may clear set-id bits.
        if (m_existed) {
            (void)::fchown(m_fd, m_old.st_uid, m_old.st_gid);
            (void)::fchmod(m_fd, m_old.st_mode & 07777);
        } else {
            (void)::fchmod(m_fd, 0666 & ~ProcessUmask());
        }
        if (::fsync(m_fd) != 0)
            return Fail(errno);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0)
        return Fail(errno);
    if (!m_temporary.empty()) {
        if (::rename(m_temporary.c_str(), m_final.c_str()) != 0)
            return Fail(errno);
        m_temporary.clear();
    }
    return true;
}
