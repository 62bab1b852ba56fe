#include "tcp/HandshakeFailureLog.h"

#include "platform/EventLoop.h"

namespace tcp {

bool HandshakeFailureLog::shouldReport(const std::string& address)
{
    const auto now = Clock::now();
    const auto period = std::chrono::duration_cast<Clock::duration>(kPeriod * plat::timeScale());
    if (last_.size() >= kMaxAddresses) {
        for (auto it = last_.begin(); it != last_.end();)
            it = now - it->second >= period ? last_.erase(it) : std::next(it);
        if (last_.size() >= kMaxAddresses)
            last_.clear();
    }
    const auto it = last_.find(address);
    if (it != last_.end() && now - it->second < period)
        return false;
    last_[address] = now;
    return true;
}

} // namespace tcp
