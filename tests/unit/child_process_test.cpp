// Waiting for a child with a limit: one that ends in time is reported as it ended; one that is still
// running is killed, reaped and reported as such, never taken for a clean exit.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "../ChildProcess.h"

namespace {

enum class Child { ExitsThree, KillsItself, Hangs };

pid_t Start(Child kind) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (kind == Child::KillsItself)
            ::raise(SIGTERM);
        if (kind == Child::Hangs)
            ::sleep(30);
        ::_exit(3);
    }
    return pid;
}

TEST(WaitOrKill, ReportsHowTheChildEnded) {
    using std::chrono::milliseconds;
    struct Case {
        Child kind;
        milliseconds limit;
        bool ended;
        int signal;  // 0: exited with 3
    } cases[] = {
        {Child::ExitsThree, milliseconds(5000), true, 0},
        {Child::KillsItself, milliseconds(5000), true, SIGTERM},
        {Child::Hangs, milliseconds(100), false, SIGKILL},
    };
    for (const Case& c : cases) {
        const pid_t pid = Start(c.kind);
        ASSERT_GT(pid, 0);
        int raw = -1;
        EXPECT_EQ(WaitOrKill(pid, c.limit, raw), c.ended) << int(c.kind);
        if (c.signal) {
            EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == c.signal) << int(c.kind) << ": " << raw;
        } else {
            EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 3) << raw;
        }
        // Reaped either way: nothing is left to wait for.
        errno = 0;
        EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
}

// A process that is no child (already reaped, or never one) is not taken for one that exited.
TEST(WaitOrKill, NoChildIsNoExit) {
    const pid_t pid = Start(Child::ExitsThree);
    int raw = 0;
    ASSERT_TRUE(WaitOrKill(pid, std::chrono::milliseconds(5000), raw));
    EXPECT_FALSE(WaitOrKill(pid, std::chrono::milliseconds(100), raw));
    EXPECT_FALSE(WIFEXITED(raw) || WIFSIGNALED(raw)) << raw;
}

}  // namespace
