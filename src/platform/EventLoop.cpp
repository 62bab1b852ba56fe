#include "platform/EventLoop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>
#include <QTimerEvent>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

namespace plat {

double parseTimeScale(const char* text)
{
    if (!text)
        return 1.0;
    const char* begin = text;
    const char* end = text + std::strlen(text);
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    while (end > begin && (end[-1] == ' ' || end[-1] == '\t' || end[-1] == '\n'))
        --end;
    // from_chars rather than strtod: QCoreApplication sets the user's locale, under which
    // strtod would read "0.01" as 0 where the decimal mark is a comma.
    double value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        return 1.0;
    if (!std::isfinite(value) || value <= 0)
        return 1.0;
    return value;
}

double timeScale()
{
    static const double scale = parseTimeScale(std::getenv("PAVO_TIME_SCALE"));
    return scale;
}

int scaledMs(int periodMs)
{
    const double ms = std::round(static_cast<double>(periodMs) * timeScale());
    if (ms < 1)
        return 1;
    if (ms > INT_MAX)
        return INT_MAX;
    return static_cast<int>(ms);
}

void post(std::function<void()> fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !fn)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

namespace {

// Periods up to this run on precise timers: coarse ones may fire 5 % late, which would smear
// the 50 ms polls and the scaled periods that tests rely on.
constexpr int PreciseUpToMs = 2000;

// The Qt side of a TimerSet. It outlives the set when the set is destroyed from inside one of
// its own callbacks, because the callback object is still running then.
class TimerHost : public QObject
{
public:
    explicit TimerHost(std::function<void(int)> fn) : onTimer(std::move(fn)) {}

    std::function<void(int)> onTimer;
    std::map<int, int> qtIdById;
    std::map<int, int> idByQtId;
    int depth = 0;
    bool dead = false;

protected:
    void timerEvent(QTimerEvent* event) override
    {
        if (dead)
            return;
        auto it = idByQtId.find(event->timerId());
        if (it == idByQtId.end())
            return;
        const int id = it->second;
        ++depth;
        onTimer(id);
        --depth;
    }
};

} // namespace

struct TimerSet::Impl
{
    TimerHost* host = nullptr;

    void stop(int id)
    {
        auto it = host->qtIdById.find(id);
        if (it == host->qtIdById.end())
            return;
        host->killTimer(it->second);
        host->idByQtId.erase(it->second);
        host->qtIdById.erase(it);
    }
};

TimerSet::TimerSet(std::function<void(int id)> onTimer) : d_(std::make_unique<Impl>())
{
    d_->host = new TimerHost(std::move(onTimer));
}

TimerSet::~TimerSet()
{
    TimerHost* host = d_->host;
    for (const auto& [id, qtId] : host->qtIdById)
        host->killTimer(qtId);
    host->qtIdById.clear();
    host->idByQtId.clear();
    host->dead = true;
    if (host->depth > 0)
        host->deleteLater();
    else
        delete host;
}

void TimerSet::set(int id, int periodMs)
{
    d_->stop(id);
    const int ms = scaledMs(periodMs);
    const Qt::TimerType type = ms <= PreciseUpToMs ? Qt::PreciseTimer : Qt::CoarseTimer;
    const int qtId = d_->host->startTimer(ms, type);
    if (qtId == 0)
        return;
    d_->host->qtIdById[id] = qtId;
    d_->host->idByQtId[qtId] = id;
}

void TimerSet::kill(int id)
{
    d_->stop(id);
}

bool TimerSet::active(int id) const
{
    return d_->host->qtIdById.count(id) != 0;
}

namespace {

// What a WindowHandle points at; the window's private state derives from it so that a handle
// can post without knowing the window.
struct WindowQueue
{
    std::shared_ptr<MessageWindow::Handler> handler;
};

void enqueue(const std::shared_ptr<WindowQueue>& queue, const WindowMessage& message)
{
    std::weak_ptr<WindowQueue> weak = queue;
    post([weak, message] {
        std::shared_ptr<MessageWindow::Handler> handler;
        if (auto q = weak.lock())
            handler = q->handler;
        // The queue reference is gone before the call, so a handler that destroys its window
        // ends the window at once; only the handler object itself lives until it returns.
        if (handler && *handler)
            (*handler)(message);
    });
}

} // namespace

struct MessageWindow::State : WindowQueue
{
};

bool WindowHandle::post(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam) const
{
    auto queue = std::static_pointer_cast<WindowQueue>(state_.lock());
    if (!queue)
        return false;
    enqueue(queue, WindowMessage{msg, wparam, lparam});
    return true;
}

MessageWindow::MessageWindow(Handler handler) : state_(std::make_shared<State>())
{
    state_->handler = std::make_shared<Handler>(std::move(handler));
}

MessageWindow::~MessageWindow() = default;

void MessageWindow::post(unsigned msg, std::uintptr_t wparam, std::intptr_t lparam)
{
    enqueue(state_, WindowMessage{msg, wparam, lparam});
}

WindowHandle MessageWindow::handle() const
{
    WindowHandle h;
    h.state_ = std::static_pointer_cast<WindowQueue>(state_);
    return h;
}

bool runUntil(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    // Without a timer of its own a blocking wait could outlast the timeout when nothing happens.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!pred()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return pred();
        wake.start(static_cast<int>(left));
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        // Objects handed to deleteLater at this level would otherwise wait for an exec() that
        // tests and tools never enter.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

} // namespace plat
