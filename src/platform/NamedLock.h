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

    // Takes the lock for name. False when another process holds it (failure() is then empty)
    // or when it cannot be made (failure() says why); a lock already held by this object is
    // released first.
    bool acquire(std::string_view name);
    void release();
    bool held() const { return fd_ >= 0; }
    const std::string& failure() const { return failure_; }

    // The per-user runtime folder, the first that is ours alone (owned by this user, mode 0700):
    // $XDG_RUNTIME_DIR; else "pavo-<uid>" under $TMPDIR (default /tmp), created when missing;
    // else "pavo" under $XDG_CACHE_HOME (default ~/.cache). Empty when none is, with the reasons
    // in *why.
    static std::string runtimeFolder(std::string* why = nullptr);
    // The lock file for name: any name maps to a valid, distinct file name. Empty (reasons in
    // *why) when there is no runtime folder.
    static std::string lockPath(std::string_view name, std::string* why = nullptr);

private:
    int fd_ = -1;
    std::string failure_;
};

} // namespace plat
