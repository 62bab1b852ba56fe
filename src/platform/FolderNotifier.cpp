#include "platform/FolderNotifier.h"

#include "platform/Diag.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace plat {

struct FolderNotifier::Impl
{
    int fd = -1;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void()> onChange;

    void drain()
    {
        // Only whether something happened matters, not what.
        alignas(inotify_event) char buffer[4096];
        bool any = false;
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                any = true;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
        if (any && onChange)
            onChange();
    }
};

FolderNotifier::FolderNotifier(const std::string& folder, std::function<void()> onChange)
    : d_(std::make_unique<Impl>())
{
    d_->onChange = std::move(onChange);
    d_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (d_->fd < 0) {
        diag("FolderNotifier: inotify_init1 failed: %s\n", std::strerror(errno));
        return;
    }
    const std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_CLOSE_WRITE | IN_ATTRIB | IN_ONLYDIR;
    if (::inotify_add_watch(d_->fd, folder.c_str(), mask) < 0) {
        diag("FolderNotifier: cannot watch %s: %s\n", folder.c_str(), std::strerror(errno));
        ::close(d_->fd);
        d_->fd = -1;
        return;
    }
    d_->notifier =
        std::make_unique<QSocketNotifier>(static_cast<qintptr>(d_->fd), QSocketNotifier::Read);
    Impl* impl = d_.get();
    QObject::connect(d_->notifier.get(), &QSocketNotifier::activated, d_->notifier.get(),
                     [impl] { impl->drain(); });
}

FolderNotifier::~FolderNotifier()
{
    d_->notifier.reset();
    if (d_->fd >= 0)
        ::close(d_->fd);
}

bool FolderNotifier::watching() const
{
    return d_->fd >= 0;
}

} // namespace plat
