// The signal handler works only on what it may touch safely: a fixed table of
// slots, each a path written before the slot is marked active, read through
// lock-free atomic flags; unlink, sigaction and raise are async-signal-safe.

#include "output/temporary_cleanup.h"

#include <unistd.h>
#include <climits>
#include <csignal>
#include <cstring>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace output {

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Temporary files registered at once: one per output being written.
constexpr int kSlots = 16;

struct Slot {
    std::atomic<bool> claimed{false};  // taken by a registration
    std::atomic<bool> active{false};   // path holds the name to remove
    char path[PATH_MAX];
};
static_assert(std::atomic<bool>::is_always_lock_free, "the handler reads these flags");

Slot g_slots[kSlots];

void remove_temporaries(int signal) {
    const int saved_errno = errno;
    for (Slot& slot : g_slots) {
        if (slot.active.load(std::memory_order_acquire)) {
            ::unlink(slot.path);
        }
    }
    // End the process as the signal would have: with its default action, the
    // signal raised again is delivered once this handler returns.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    errno = saved_errno;
}

// Our handler goes only where the signal would end the process by default.
void install_handlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = remove_temporaries;
        sigemptyset(&action.sa_mask);
        for (int signal : kEndingSignals) {
            sigaddset(&action.sa_mask, signal);
        }
        for (int signal : kEndingSignals) {
            struct sigaction current {};
            if (sigaction(signal, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
                current.sa_handler == SIG_DFL) {
                sigaction(signal, &action, nullptr);
            }
        }
    });
}

}  // namespace

TemporaryName::TemporaryName(const char* path) {
    if (std::strlen(path) >= PATH_MAX) {
        return;
    }
    install_handlers();
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (g_slots[i].claimed.compare_exchange_strong(expected, true)) {
            std::strcpy(g_slots[i].path, path);
            g_slots[i].active.store(true, std::memory_order_release);
            slot_ = i;
            return;
        }
    }
}

TemporaryName::~TemporaryName() {
    if (slot_ >= 0) {
        g_slots[slot_].active.store(false, std::memory_order_release);
        g_slots[slot_].claimed.store(false, std::memory_order_release);
    }
}

}  // namespace output
