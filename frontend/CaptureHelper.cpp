#include "frontend/CaptureHelper.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "helper/HelperProtocol.h"

namespace {

using namespace capture_helper;

std::string ExecutableDirectory() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

bool IsFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Candidates in order: beside the executable, then each PATH folder (absolute ones only).
template <typename Accept>
std::string FirstHelper(Accept accept) {
    const std::string besides = ExecutableDirectory() + "/" + kProgramName;
    if (accept(besides))
        return besides;
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (folder.empty() || folder.front() != '/')
            continue;
        const std::string candidate = folder + "/" + kProgramName;
        if (accept(candidate))
            return candidate;
    }
    return {};
}

void CloseFd(int& fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads `fd` to its end into `out`, giving up at `deadline`. false when the deadline passed.
bool ReadToEnd(int fd, std::string& out, std::chrono::steady_clock::time_point deadline) {
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return ready == 0 ? false : true;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return true;
        // The helper says little; anything beyond this is not worth keeping.
        if (out.size() < (size_t{4} << 20))
            out.append(buffer, static_cast<size_t>(n));
    }
}

}  // namespace

std::string FindCaptureHelper() {
    if (const char* chosen = std::getenv("PACTERRA_CAPTURE_HELPER"))
        return *chosen && IsFile(chosen) && ::access(chosen, X_OK) == 0 ? std::string(chosen) : std::string();
    return FirstHelper([](const std::string& p) { return IsFile(p) && ::access(p.c_str(), X_OK) == 0; });
}

std::string InstalledCaptureHelper() {
    if (const char* chosen = std::getenv("PACTERRA_CAPTURE_HELPER"))
        return *chosen && IsFile(chosen) ? std::string(chosen) : std::string();
    return FirstHelper(IsFile);
}

std::string CaptureHelperGroup(const std::string& helperPath) {
    struct stat st {};
    if (helperPath.empty() || ::stat(helperPath.c_str(), &st) != 0 || st.st_gid == 0)
        return {};
    // A group of its own (not the user's own group, as in a build tree) that may run it.
    if (!(st.st_mode & S_IXGRP) || (st.st_mode & S_IXOTH))
        return {};
    const group* g = ::getgrgid(st.st_gid);
    return g && g->gr_name ? std::string(g->gr_name) : std::string();
}

bool StartCaptureHelper(const std::string& helper, const std::vector<std::string>& args,
                        HelperProcess& process, std::string& error) {
    process = {};
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(in[0]), ::close(in[1]);
        return false;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        ::close(in[0]), ::close(in[1]), ::close(out[0]), ::close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // The helper restores the default dispositions the window or the CLI may have changed.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGTERM, SIGINT, SIGHUP})
        sigaddset(&defaults, s);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    std::string name = kProgramName;
    argv.push_back(name.data());
    std::vector<std::string> copies = args;
    for (std::string& a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    char* environment[] = {nullptr};
    pid_t pid = -1;
    const int status = ::posix_spawn(&pid, helper.c_str(), &actions, &attributes, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(in[0]), ::close(out[1]), ::close(err[1]);
    if (status != 0) {
        ::close(in[1]), ::close(out[0]), ::close(err[0]);
        error = helper + ": " + std::strerror(status);
        return false;
    }
    process = {pid, in[1], out[0], err[0]};
    return true;
}

void ParseHelperMessages(const std::string& text, HelperResult& result) {
    std::stringstream lines(text);
    const std::string prefix = kErrorPrefix, stats = std::string(kErrorPrefix) + kStatsWord;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(stats, 0) == 0) {
            result.haveStats =
                std::sscanf(line.c_str() + stats.size(), "received=%llu dropped=%llu ifdropped=%llu",
                            &result.received, &result.dropped, &result.interfaceDropped) == 3;
            continue;
        }
        if (line.rfind(prefix, 0) == 0)
            line.erase(0, prefix.size());
        if (line.empty())
            continue;
        if (!result.messages.empty())
            result.messages += "\n";
        result.messages += line;
    }
}

HelperResult FinishCaptureHelper(HelperProcess& process, int killAfterMs) {
    HelperResult result;
    CloseFd(process.input);
    CloseFd(process.output);
    std::string text;
    const bool ended = process.error < 0 ||
                       ReadToEnd(process.error, text,
                                 std::chrono::steady_clock::now() + std::chrono::milliseconds(killAfterMs));
    CloseFd(process.error);
    if (process.pid > 0) {
        if (!ended)
            ::kill(process.pid, SIGKILL);
        int status = 0;
        while (::waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        process.pid = -1;
    }
    ParseHelperMessages(text, result);
    if (!ended && result.messages.empty())
        result.messages = "the capture helper did not end and was stopped";
    return result;
}

bool ParseHelperList(const std::string& text, std::vector<HelperDevice>& devices) {
    devices.clear();
    std::stringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != kListHeader)
        return false;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string f; std::getline(split, f, '\t');)
            fields.push_back(f);
        if (!line.empty() && line.back() == '\t')
            fields.emplace_back();
        if (fields.size() == 5 && fields[0] == "device") {
            HelperDevice d;
            d.name = fields[1];
            char* end = nullptr;
            errno = 0;
            const unsigned long flags = std::strtoul(fields[2].c_str(), &end, 10);
            if (!IsValidDeviceName(d.name) || fields[2].empty() || *end || errno || flags > 0xffffffffUL)
                return false;
            d.flags = static_cast<unsigned>(flags);
            const long link = std::strtol(fields[3].c_str(), &end, 10);
            if (fields[3].empty() || *end || errno || link < -1 || link > 0xffff)
                return false;
            d.linkType = static_cast<int>(link);
            d.description = fields[4];
            devices.push_back(std::move(d));
        } else if (fields.size() == 4 && fields[0] == "address" && !devices.empty() &&
                   (fields[1] == "4" || fields[1] == "6")) {
            devices.back().addresses.push_back({fields[1] == "4" ? 4 : 6, fields[2], fields[3]});
        } else {
            return false;
        }
    }
    return true;
}

bool ListAdaptersThroughHelper(const std::string& helper, std::vector<HelperDevice>& devices,
                               std::string& error) {
    HelperProcess process;
    if (!StartCaptureHelper(helper, {"--list"}, process, error))
        return false;
    CloseFd(process.input);
    std::string text;
    const bool ended =
        ReadToEnd(process.output, text, std::chrono::steady_clock::now() + std::chrono::seconds(10));
    HelperResult result = FinishCaptureHelper(process, ended ? 3000 : 0);
    if (result.exitStatus != 0) {
        error = result.messages.empty() ? "the capture helper failed" : result.messages;
        return false;
    }
    if (!ParseHelperList(text, devices)) {
        error = "the capture helper's adapter list cannot be read";
        return false;
    }
    return true;
}

bool IsRightsErrorText(const std::string& text) {
    return text.find("Operation not permitted") != std::string::npos ||
           text.find("ermission") != std::string::npos;
}
