#include "NetWire.h"

#include "platform/Bytes.h"

#include <charconv>

namespace NetWire {

namespace {

// Fixed field counts; -1 for at least `min`, -2 for at least `min` with pairs after it.
struct Shape
{
    int min;
    int kind;
};

bool shapeOf(NetMsg::Type type, Shape& out)
{
    using T = NetMsg::Type;
    switch (type) {
    case T::UserDown:
    case T::EntryGone:
        out = {1, 0};
        return true;
    case T::UserUp:
    case T::Presence:
    case T::AppCreated:
    case T::AppDeleted:
        out = {2, 0};
        return true;
    case T::Connect:
    case T::Disconnect:
    case T::Sent:
    case T::Error:
        out = {3, 0};
        return true;
    case T::Write:
        out = {4, 0};
        return true;
    case T::Deliver:
        out = {5, 0};
        return true;
    case T::Entry:
        out = {2, -1};
        return true;
    case T::Streams:
        out = {2, -2};
        return true;
    }
    return false;
}

bool countFits(const Shape& shape, std::size_t n)
{
    const std::size_t min = static_cast<std::size_t>(shape.min);
    if (shape.kind == 0)
        return n == min;
    if (n < min)
        return false;
    return shape.kind == -1 || (n - min) % 2 == 0;
}

} // namespace

std::vector<std::uint8_t> encode(const NetMsg& msg)
{
    std::vector<std::uint8_t> payload;
    for (const auto& f : msg.fields) {
        const std::size_t at = payload.size();
        payload.resize(at + 4);
        plat::putU32(payload.data() + at, static_cast<std::uint32_t>(f.size()));
        payload.insert(payload.end(), f.begin(), f.end());
    }
    std::vector<std::uint8_t> out;
    ClientWire::appendEnvelope(out, std::uint8_t(msg.type), payload);
    return out;
}

ParseResult parse(std::span<const std::uint8_t> bytes)
{
    ParseResult out;
    const auto env = ClientWire::parseEnvelope(bytes, MaxPayload);
    Shape shape{};
    if (env.status == ClientWire::Parse::Bad ||
        (bytes.size() >= ClientWire::HeaderSize && !shapeOf(NetMsg::Type(bytes[0]), shape))) {
        out.status = ClientWire::Parse::Bad;
        return out;
    }
    if (env.status != ClientWire::Parse::Complete)
        return out;
    out.msg.type = NetMsg::Type(env.kind);
    std::span<const std::uint8_t> rest = env.payload;
    while (!rest.empty()) {
        if (rest.size() < 4 || plat::getU32(rest.data()) > rest.size() - 4) {
            out.status = ClientWire::Parse::Bad;
            return out;
        }
        const std::uint32_t len = plat::getU32(rest.data());
        const auto* chars = reinterpret_cast<const char*>(rest.data() + 4);
        out.msg.fields.emplace_back(chars, len);
        rest = rest.subspan(4 + len);
    }
    if (!countFits(shape, out.msg.fields.size())) {
        out.status = ClientWire::Parse::Bad;
        out.msg.fields.clear();
        return out;
    }
    out.status = ClientWire::Parse::Complete;
    out.size = env.size;
    return out;
}

int streamNumber(const std::string& text)
{
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || v < 1)
        return 0;
    return v;
}

} // namespace NetWire
