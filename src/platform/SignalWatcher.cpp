#include "platform/SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace plat {

namespace {
// The write end of the one self-pipe; the async-signal-safe handler only writes the number.
int g_writeFd = -1;

void onSignal(int signo)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signo);
    if (g_writeFd >= 0) {
        [[maybe_unused]] ssize_t n = ::write(g_writeFd, &byte, 1);
    }
    errno = saved;
}
} // namespace

struct SignalWatcher::Impl
{
    int fds[2] = {-1, -1};
    std::vector<int> signalNumbers;
    std::function<void(int)> handler;
    std::unique_ptr<QSocketNotifier> notifier;
};

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers,
                             std::function<void(int)> handler)
    : d_(std::make_unique<Impl>())
{
    d_->handler = std::move(handler);
    d_->signalNumbers.assign(signalNumbers.begin(), signalNumbers.end());
    if (::pipe2(d_->fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_writeFd = d_->fds[1];
    d_->notifier = std::make_unique<QSocketNotifier>(d_->fds[0], QSocketNotifier::Read);
    QObject::connect(d_->notifier.get(), &QSocketNotifier::activated, d_->notifier.get(), [this] {
        unsigned char byte = 0;
        while (::read(d_->fds[0], &byte, 1) == 1)
            d_->handler(byte);
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int s : d_->signalNumbers)
        ::sigaction(s, &sa, nullptr);
}

SignalWatcher::~SignalWatcher()
{
    for (int s : d_->signalNumbers)
        ::signal(s, SIG_DFL);
    g_writeFd = -1;
    d_->notifier.reset();
    for (int fd : d_->fds)
        if (fd >= 0)
            ::close(fd);
}

void SignalWatcher::ignore(std::initializer_list<int> signalNumbers)
{
    for (int s : signalNumbers)
        ::signal(s, SIG_IGN);
}

namespace {
void changeMask(int how, std::initializer_list<int> signalNumbers)
{
    sigset_t set;
    sigemptyset(&set);
    for (int s : signalNumbers)
        sigaddset(&set, s);
    ::sigprocmask(how, &set, nullptr);
}
} // namespace

void SignalWatcher::block(std::initializer_list<int> signalNumbers)
{
    changeMask(SIG_BLOCK, signalNumbers);
}

void SignalWatcher::unblock(std::initializer_list<int> signalNumbers)
{
    changeMask(SIG_UNBLOCK, signalNumbers);
}

} // namespace plat
