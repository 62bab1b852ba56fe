#include "SiteApp.h"

#include <algorithm>

const std::string* SiteApp::peerOf(int number) const
{
    for (const auto& [peer, n] : streams) {
        if (n == number)
            return &peer;
    }
    return nullptr;
}

bool SiteApp::setStreams(Streams now)
{
    streams = std::move(now);
    std::erase_if(inbox, [this](const auto& kv) { return !peerOf(kv.first); });
    const bool wasSending = !sending.empty();
    std::erase_if(sending, [this](const auto& kv) { return !peerOf(kv.first); });
    return wasSending && sending.empty();
}

std::size_t SiteApp::arrived(int number, std::uint64_t arrival, std::string data)
{
    Inbox& in = inbox[number];
    in.bytes += data.size();
    in.messages.emplace_back(arrival, std::move(data));
    return in.bytes;
}

bool SiteApp::takeUnread(int number, std::string& data)
{
    const auto it = inbox.find(number);
    if (it == inbox.end())
        return false;
    data = std::move(it->second.messages.front().second);
    it->second.messages.pop_front();
    it->second.bytes -= data.size();
    if (it->second.messages.empty())
        inbox.erase(it);
    return true;
}

void SiteApp::written(int number, std::size_t size)
{
    Outgoing& out = sending[number];
    out.sizes.push_back(size);
    out.bytes += size;
}

bool SiteApp::acknowledged(int number)
{
    const auto it = sending.find(number);
    if (it == sending.end())
        return false;
    if (!it->second.sizes.empty()) {
        it->second.bytes -= it->second.sizes.front();
        it->second.sizes.pop_front();
    }
    if (it->second.sizes.empty())
        sending.erase(it);
    return true;
}

std::string SiteApp::streamsText(const std::string& app) const
{
    std::string text = "APPLICATION " + app + " STREAMS";
    for (const auto& [peer, number] : streams)
        text += " " + peer + ":" + std::to_string(number);
    return text;
}

// Streams in the order their oldest unread data arrived: a node reads the first item only, so
// a busy stream listed first every time would starve the others.
std::string SiteApp::receivedText(const std::string& app) const
{
    std::vector<std::pair<std::uint64_t, int>> order;
    for (const auto& [number, in] : inbox)
        order.emplace_back(in.messages.front().first, number);
    std::sort(order.begin(), order.end());
    std::string text = "APPLICATION " + app + " RECEIVED";
    for (const auto& [arrival, number] : order)
        text += " " + *peerOf(number) + ":" + std::to_string(number) + "=" +
                std::to_string(inbox.at(number).bytes);
    return text;
}

std::string SiteApp::sendingText(const std::string& app) const
{
    std::string text = "APPLICATION " + app + " SENDING";
    for (const auto& [number, out] : sending)
        text +=
            " " + *peerOf(number) + ":" + std::to_string(number) + "=" + std::to_string(out.bytes);
    return text;
}
