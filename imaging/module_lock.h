// Process-wide locks of the library modules that keep shared working state.
//
// A module's lock is created on its first use and deleted by the module's
// cleanup hook; library_shutdown runs every hook once at program exit. The
// hooks are listed in one fixed table in library.cpp.
#pragma once

#include <mutex>

namespace imaging {

class ModuleLock {
  public:
    ModuleLock() = default;
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;

    // Creates the lock if this is its first use, then takes it.
    [[nodiscard]] std::unique_lock<std::mutex> acquire();

    // Deletes the lock if it was ever created and marks it as not created.
    void destroy();

    bool created() const;

  private:
    std::mutex* mutex_ = nullptr;  // guarded by the creation mutex in library.cpp
};

}  // namespace imaging
