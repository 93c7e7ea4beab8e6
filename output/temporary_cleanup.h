// Removal of named temporary files when the process is ended by a signal.
//
// An output written under a temporary name beside its path must not leave that
// file behind when the user interrupts the program (SIGINT), it is told to end
// (SIGTERM, SIGHUP), or its reader goes away (SIGPIPE). While a name is
// registered, those signals remove it before the process ends as the signal
// would have ended it. A signal the process ignores, or handles itself, is
// left as it is. SIGKILL cannot be caught: an unnamed file (O_TMPFILE) is what
// protects against it.
#pragma once

namespace output {

class TemporaryName {
  public:
    TemporaryName() = default;
    // Registers path for removal on those signals. A path longer than the
    // handler's slots hold (PATH_MAX), or one past the slots in use at once,
    // is not registered.
    explicit TemporaryName(const char* path);
    // Unregisters it; the file itself is left alone.
    ~TemporaryName();
    TemporaryName(const TemporaryName&) = delete;
    TemporaryName& operator=(const TemporaryName&) = delete;

    bool registered() const { return slot_ >= 0; }

  private:
    int slot_ = -1;
};

}  // namespace output
