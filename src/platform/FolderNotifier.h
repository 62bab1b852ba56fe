#pragma once

#include <functional>
#include <memory>
#include <string>

// Tells when the entries at the top level of one folder change: created, deleted, renamed in or
// out, attributes changed, or a file opened for writing closed again (inotify). The callback
// runs on the event loop, once per batch of changes read together. Nothing is reported for
// sub-folders' content.
namespace plat {

class FolderNotifier
{
public:
    FolderNotifier(const std::string& folder, std::function<void()> onChange);
    ~FolderNotifier();
    FolderNotifier(const FolderNotifier&) = delete;
    FolderNotifier& operator=(const FolderNotifier&) = delete;

    // False when the folder could not be watched (missing, or no inotify descriptor left);
    // the caller's periodic pass then is all there is.
    bool watching() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace plat
