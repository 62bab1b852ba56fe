#include "XmppStreams.h"

#include "MessengerLog.h"
#include "XmppConnection.h"
#include "XmppContacts.h"
#include "XmppHub.h"

#include <QTimer>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

namespace {

using xs::Stanza;

bool parseNumber(const std::string& text, unsigned long max, unsigned long& out)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty() && out <= max;
}

// Strict base64 without blanks, as the bytestream carries it.
bool decodeBase64(xmpp_ctx_t* ctx, const std::string& text, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (text.empty())
        return true;
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool pad =
            c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || pad))
            return false;
    }
    unsigned char* bytes = nullptr;
    std::size_t n = 0;
    xmpp_base64_decode_bin(ctx, text.data(), text.size(), &bytes, &n);
    if (!bytes)
        return false;
    out.assign(bytes, bytes + n);
    xmpp_free(ctx, bytes);
    return true;
}

} // namespace

XmppStreams::XmppStreams(XmppHub& hub, XmppConnection& conn, XmppContacts& contacts)
    : hub_(hub), conn_(conn), contacts_(contacts)
{
}

void XmppStreams::start()
{
    auto* rate = new QTimer(&context_);
    QObject::connect(rate, &QTimer::timeout, &context_, [this] { sampleRate(); });
    rate->start(1000);
}

void XmppStreams::closeApp(const std::string& app)
{
    std::vector<int> gone;
    for (const auto& [n, s] : streams_) {
        if (s.app() == app)
            gone.push_back(n);
    }
    for (int n : gone)
        closeStream(n, true, "");
}

void XmppStreams::connect(const std::string& app, const std::string& peer)
{
    if (!hub_.online()) {
        hub_.refuse(app, "CONNECT: not logged in to the server");
        return;
    }
    if (!contacts_.isMutual(peer)) {
        hub_.refuse(app, "CONNECT: " + peer + " is not a mutual contact");
        return;
    }
    const std::string resource = contacts_.resourceWith(peer, app);
    if (resource.empty()) {
        hub_.refuse(app, "CONNECT: " + peer + " has no client with " + app + " on line");
        return;
    }
    char* uuid = xmpp_uuid_gen(conn_.ctx());
    const std::string sid = uuid ? uuid : conn_.nextId("s");
    xmpp_free(conn_.ctx(), uuid);
    const int number = nextNumber_++;
    const std::string full = peer + "/" + resource;
    streams_.emplace(number, IbbStream(number, app, full, sid, BlockSize, false));

    Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("open"), full);
    Stanza open = xs::element(conn_.ctx(), "open", xs::NsIbb);
    xmpp_stanza_set_attribute(open.get(), "block-size", std::to_string(BlockSize).c_str());
    xmpp_stanza_set_attribute(open.get(), "sid", sid.c_str());
    xmpp_stanza_set_attribute(open.get(), "stanza", "iq");
    Stanza application = xs::element(conn_.ctx(), "application", xs::NsPavo);
    xmpp_stanza_set_attribute(application.get(), "name", app.c_str());
    xs::add(open.get(), std::move(application));
    xs::add(iq.get(), std::move(open));
    hub_.request(std::move(iq), {XmppPending::Kind::Open, full, number, 0});
}

void XmppStreams::write(int number, const std::string& data)
{
    const auto it = streams_.find(number);
    if (it == streams_.end() || !it->second.isOpen())
        return; // closed meanwhile; the site hears of it from the stream list
    if (data.size() > WriteFraming::MaxText) {
        hub_.refuse(it->second.app(), "WRITE: more than a stream carries in one write");
        return;
    }
    it->second.write(data);
    // A node's writes are hexadecimal text and cross at half their size.
    writesInFlight_[number].push_back({data.size() / 2 + 5, Clock::now()});
    flush(it->second);
}

void XmppStreams::flush(IbbStream& s)
{
    while (s.blockReady()) {
        std::uint16_t seq = 0;
        const std::string block = s.takeBlock(seq);
        char* b64 = xmpp_base64_encode(
            conn_.ctx(), reinterpret_cast<const unsigned char*>(block.data()), block.size());
        Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("d"), s.peer());
        Stanza data = xs::element(conn_.ctx(), "data", xs::NsIbb);
        xmpp_stanza_set_attribute(data.get(), "seq", std::to_string(seq).c_str());
        xmpp_stanza_set_attribute(data.get(), "sid", s.sid().c_str());
        xs::addText(conn_.ctx(), data.get(), b64 ? b64 : "");
        xmpp_free(conn_.ctx(), b64);
        xs::add(iq.get(), std::move(data));
        hub_.request(std::move(iq), {XmppPending::Kind::Data, s.peer(), s.number(), seq});
    }
}

void XmppStreams::closeStream(int number, bool tellPeer, const std::string& why)
{
    const auto it = streams_.find(number);
    if (it == streams_.end())
        return;
    const IbbStream& s = it->second;
    if (!why.empty())
        std::fprintf(stderr, "pavo-messenger: closing stream %d with %s: %s\n", number,
                     s.peer().c_str(), why.c_str());
    if (tellPeer && hub_.online()) {
        Stanza iq = xs::iq(conn_.ctx(), "set", conn_.nextId("close"), s.peer());
        Stanza close = xs::element(conn_.ctx(), "close", xs::NsIbb);
        xmpp_stanza_set_attribute(close.get(), "sid", s.sid().c_str());
        xs::add(iq.get(), std::move(close));
        hub_.request(std::move(iq), {XmppPending::Kind::Close, s.peer(), 0, 0});
    }
    hub_.dropPending([number](const XmppPending& p) {
        return p.number == number && p.kind != XmppPending::Kind::Close;
    });
    const std::string app = s.app();
    const bool wasOpen = s.isOpen();
    const std::string peer = xs::bare(s.peer());
    streams_.erase(it);
    writesInFlight_.erase(number);
    if (wasOpen)
        sendStreams(app);
    else
        hub_.refuse(app, "CONNECT: the stream to " + peer + " closed before it opened" +
                             (why.empty() ? "" : " (" + why + ")"));
}

void XmppStreams::closeStreamsOf(const std::string& peer, const std::string& why)
{
    std::vector<int> gone;
    for (const auto& [n, s] : streams_) {
        if (s.peer() == peer || (peer.find('/') == std::string::npos && xs::bare(s.peer()) == peer))
            gone.push_back(n);
    }
    for (int n : gone)
        closeStream(n, false, why);
}

IbbStream* XmppStreams::findStream(const std::string& peer, const std::string& sid)
{
    for (auto& [n, s] : streams_) {
        if (s.peer() == peer && s.sid() == sid)
            return &s;
    }
    return nullptr;
}

std::size_t XmppStreams::streamsWith(const std::string& bare) const
{
    return static_cast<std::size_t>(
        std::count_if(streams_.begin(), streams_.end(),
                      [&](const auto& kv) { return xs::bare(kv.second.peer()) == bare; }));
}

const char* XmppStreams::refusal(xmpp_stanza_t* open, const std::string& from,
                                 const std::string& app, unsigned long& blockSize)
{
    const std::string sid = xs::attr(open, "sid");
    const std::string stanzaKind = xs::attr(open, "stanza");
    if (!contacts_.isMutual(xs::bare(from)) || xs::resource(from).empty())
        return "not-acceptable";
    if (sid.empty() || sid.size() > 128 ||
        !parseNumber(xs::attr(open, "block-size"), 1u << 30, blockSize) || blockSize == 0)
        return "bad-request";
    if (blockSize > MaxBlock)
        return "resource-constraint";
    if (!stanzaKind.empty() && stanzaKind != "iq")
        return "feature-not-implemented";
    if (app.empty() || !hub_.apps().count(app) || findStream(from, sid))
        return "not-acceptable";
    // A contact opening stream after stream (hundreds a second) is not followed.
    if (streamsWith(xs::bare(from)) >= MaxStreamsPerContact) {
        MessengerLog::line("xmpp", "refused", "open from " + from + ": too many streams");
        return "resource-constraint";
    }
    return nullptr;
}

void XmppStreams::onOpen(xmpp_stanza_t* iq, xmpp_stanza_t* open, const std::string& from)
{
    const std::string app = xs::attr(xs::child(open, "application", xs::NsPavo), "name");
    unsigned long blockSize = 0;
    if (const char* condition = refusal(open, from, app, blockSize)) {
        const std::string c = condition;
        hub_.reply(xs::error(
            iq, c == "bad-request" || c == "resource-constraint" ? "modify" : "cancel", condition));
        return;
    }
    const int number = nextNumber_++;
    streams_.emplace(number, IbbStream(number, app, from, xs::attr(open, "sid"), blockSize, true));
    hub_.reply(xs::result(iq));
    sendStreams(app);
}

void XmppStreams::onData(xmpp_stanza_t* iq, xmpp_stanza_t* data, const std::string& from)
{
    IbbStream* s = findStream(from, xs::attr(data, "sid"));
    if (!s) {
        hub_.reply(xs::error(iq, "cancel", "item-not-found"));
        return;
    }
    const int number = s->number();
    unsigned long seq = 0;
    if (!parseNumber(xs::attr(data, "seq"), 65535, seq)) {
        hub_.reply(xs::error(iq, "modify", "bad-request"));
        closeStream(number, true, "a block without a valid sequence number");
        return;
    }
    const std::string text = xs::text(conn_.ctx(), data);
    std::vector<std::uint8_t> bytes;
    IbbStream::Received r = IbbStream::Received::TooLong;
    std::vector<std::string> texts;
    if (text.size() <= (s->blockSize() + 2) / 3 * 4) {
        if (!decodeBase64(conn_.ctx(), text, bytes)) {
            hub_.reply(xs::error(iq, "modify", "bad-request"));
            closeStream(number, true, "a block that is not base64");
            return;
        }
        r = s->receive(std::uint16_t(seq), bytes, texts);
    }
    switch (r) {
    case IbbStream::Received::Ok:
        break;
    case IbbStream::Received::OutOfSequence:
        hub_.reply(xs::error(iq, "cancel", "unexpected-request"));
        closeStream(number, true, "a block out of sequence");
        return;
    case IbbStream::Received::TooLong:
        hub_.reply(xs::error(iq, "modify", "policy-violation"));
        closeStream(number, true, "a block longer than the agreed block size");
        return;
    case IbbStream::Received::BadFrame:
        hub_.reply(xs::error(iq, "modify", "bad-request"));
        closeStream(number, true, "data that is no write of a program");
        return;
    }
    hub_.reply(xs::result(iq));
    const std::string peer = xs::bare(from);
    for (auto& t : texts)
        hub_.toSite(HubMsg{HubMsg::Type::Deliver,
                           {hub_.own(), s->app(), peer, std::to_string(number), std::move(t)}});
}

void XmppStreams::onClose(xmpp_stanza_t* iq, xmpp_stanza_t* close, const std::string& from)
{
    IbbStream* s = findStream(from, xs::attr(close, "sid"));
    if (!s) {
        hub_.reply(xs::error(iq, "cancel", "item-not-found"));
        return;
    }
    hub_.reply(xs::result(iq));
    closeStream(s->number(), false, "");
}

void XmppStreams::onStreamAnswer(const XmppPending& p, bool ok, xmpp_stanza_t* iq)
{
    const auto it = streams_.find(p.number);
    if (p.kind == XmppPending::Kind::Close || it == streams_.end())
        return;
    IbbStream& s = it->second;
    if (!ok) {
        xmpp_stanza_t* error = xmpp_stanza_get_child_by_name(iq, "error");
        xmpp_stanza_t* condition = xs::firstElement(error);
        const std::string why =
            "the peer answered " + (condition ? xs::name(condition) : "an error");
        closeStream(p.number, p.kind == XmppPending::Kind::Data, why);
        return;
    }
    if (p.kind == XmppPending::Kind::Open) {
        s.setOpen();
        sendStreams(s.app());
    } else {
        const int done = s.acknowledged(p.seq);
        writesLeft(s.number(), done);
        for (int i = 0; i < done; ++i)
            hub_.toSite(
                HubMsg{HubMsg::Type::Sent, {hub_.own(), s.app(), std::to_string(s.number())}});
    }
    flush(s);
}

void XmppStreams::sendStreams(const std::string& app)
{
    HubMsg msg{HubMsg::Type::Streams, {hub_.own(), app}};
    for (const auto& [n, s] : streams_) {
        if (s.app() == app && s.isOpen()) {
            msg.fields.push_back(xs::bare(s.peer()));
            msg.fields.push_back(std::to_string(n));
        }
    }
    hub_.toSite(std::move(msg));
}

void XmppStreams::writesLeft(int number, int count)
{
    auto& inFlight = writesInFlight_[number];
    const auto now = Clock::now();
    for (int i = 0; i < count && !inFlight.empty(); ++i) {
        const std::chrono::duration<double> took = now - inFlight.front().start;
        writesDone_.push_back({number, now, inFlight.front().bytes, took.count()});
        inFlight.pop_front();
    }
}

void XmppStreams::sampleRate()
{
    const auto now = Clock::now();
    while (!writesDone_.empty() && now - writesDone_.front().at > RateWindow)
        writesDone_.pop_front();
    std::uint64_t bytes = 0;
    double seconds = 0;
    for (const WriteDone& w : writesDone_) {
        bytes += w.bytes;
        seconds += w.seconds;
    }
    if (limitReported_ || bytes < MinBytes || seconds <= 0)
        return;
    const auto rate = static_cast<std::uint64_t>(static_cast<double>(bytes) / seconds);
    if (rate >= FarBelow)
        return;
    limitReported_ = true;
    const auto slow = streams_.find(writesDone_.back().number);
    const std::string app = slow != streams_.end() ? slow->second.app() : std::string();
    const std::uint64_t kb = (rate + 512) / 1024;
    std::fprintf(stderr,
                 "pavo-messenger: the server limits this connection to about %llu kB/s (the node "
                 "asks for up to 200 kB/s per stream)\n",
                 static_cast<unsigned long long>(kb));
    hub_.toSite(HubMsg{HubMsg::Type::Limited, {hub_.own(), app, std::to_string(rate)}});
}
