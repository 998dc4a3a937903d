// Waiting for a child program with a limit, as the tests that run the programs do.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

// Waits up to `limit` for the child `pid`, its wait status in `raw`. False when it was still running: then
// it has been killed and reaped, and `raw` says so; false too, with `raw` -1 (neither an exit nor a
// signal), when `pid` is no child of this process.
inline bool WaitOrKill(pid_t pid, std::chrono::milliseconds limit, int& raw) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const pid_t ended = ::waitpid(pid, &raw, WNOHANG);
        if (ended == pid)
            return true;
        if (ended < 0 && errno != EINTR) {
            raw = -1;
            return false;
        }
        if (std::chrono::steady_clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &raw, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
