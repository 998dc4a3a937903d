// What the engine's commands (Open, Save, Start, the exports) share: a token that cancels them and the
// result they return.
#pragma once

#include <atomic>

// Set from any thread (or a signal handler: it is lock-free) to end a command at its next batch.
class CancelToken {
public:
    void Cancel() noexcept { m_cancelled.store(true, std::memory_order_relaxed); }
    bool IsCancelled() const noexcept { return m_cancelled.load(std::memory_order_relaxed); }
    // A new piece of work starts with the token clear.
    void Reset() noexcept { m_cancelled.store(false, std::memory_order_relaxed); }

    // A token nobody sets, for work that cannot be cancelled.
    static const CancelToken& Never() {
        static const CancelToken never;
        return never;
    }

private:
    std::atomic<bool> m_cancelled{false};
};

// Failed: the reason was told through the prompt service. Cancelled: the user (or the token) ended it, and
// nothing was told.
enum class CommandResult { Done, Cancelled, Failed };
