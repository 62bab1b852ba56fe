#pragma once

#include <string>
#include <string_view>

// A per-user lock with a name, held by this process until released or until it ends
// (an advisory flock on a file in the user's runtime folder; the kernel drops it with the process).
namespace plat {

class NamedLock
{
public:
    NamedLock() = default;
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    // Takes the lock for name. False when another process holds it (or it cannot be made);
    // a lock already held by this object is released first.
    bool acquire(std::string_view name);
    void release();
    bool held() const { return fd_ >= 0; }

    // The per-user runtime folder: $XDG_RUNTIME_DIR, else a private folder under /tmp.
    static std::string runtimeFolder();
    // The lock file for name: any name maps to a valid, distinct file name.
    static std::string lockPath(std::string_view name);

private:
    int fd_ = -1;
};

} // namespace plat
