#include "skype/ClientWire.h"

#include "platform/Bytes.h"

namespace ClientWire {

std::string endpointFolder(std::string_view runtimeFolder)
{
    std::string out(runtimeFolder);
    if (out.empty() || out.back() != '/')
        out += '/';
    out += EndpointFolder;
    return out;
}

std::string endpointPath(std::string_view runtimeFolder)
{
    std::string out = endpointFolder(runtimeFolder);
    out += '/';
    out += EndpointName;
    return out;
}

Envelope parseEnvelope(std::span<const std::uint8_t> bytes, std::uint32_t maxPayload)
{
    Envelope env;
    if (bytes.size() < HeaderSize)
        return env;
    const std::uint32_t length = plat::getU32(bytes.data() + LengthOffset);
    env.kind = bytes[KindOffset];
    if (length > maxPayload) {
        env.status = Parse::Bad;
        return env;
    }
    if (bytes.size() - HeaderSize < length)
        return env;
    env.status = Parse::Complete;
    env.size = HeaderSize + length;
    env.payload = bytes.subspan(HeaderSize, length);
    return env;
}

namespace {

bool knownKind(std::uint8_t kind)
{
    switch (static_cast<Kind>(kind)) {
    case Kind::Discover:
    case Kind::Attach:
    case Kind::Command:
    case Kind::Result:
    case Kind::Notification:
        return true;
    }
    return false;
}

// The payload length each kind allows, checked from the header alone so that a wrong frame is
// refused before its payload is waited for.
bool lengthFits(Kind kind, std::uint32_t length)
{
    switch (kind) {
    case Kind::Discover:
        return length == 0;
    case Kind::Attach:
    case Kind::Result:
        return length == StatusSize;
    case Kind::Command:
    case Kind::Notification:
        return length >= 1;
    }
    return false;
}

} // namespace

ParseResult parse(std::span<const std::uint8_t> bytes)
{
    ParseResult out;
    if (bytes.size() < HeaderSize)
        return out;
    const std::uint8_t kindByte = bytes[KindOffset];
    const std::uint32_t length = plat::getU32(bytes.data() + LengthOffset);
    if (!knownKind(kindByte) || length > MaxPayload || !lengthFits(Kind(kindByte), length)) {
        out.status = Parse::Bad;
        return out;
    }
    const Envelope env = parseEnvelope(bytes, MaxPayload);
    if (env.status != Parse::Complete)
        return out;
    out.frame.kind = Kind(kindByte);
    switch (out.frame.kind) {
    case Kind::Discover:
        break;
    case Kind::Attach:
    case Kind::Result:
        out.frame.status = plat::getU32(env.payload.data());
        break;
    case Kind::Command:
    case Kind::Notification: {
        if (env.payload.back() != 0) {
            out.status = Parse::Bad;
            return out;
        }
        const auto* chars = reinterpret_cast<const char*>(env.payload.data());
        out.frame.text = std::string_view(chars); // stops at the first zero, which exists
        break;
    }
    }
    out.status = Parse::Complete;
    out.size = env.size;
    return out;
}

void appendEnvelope(std::vector<std::uint8_t>& out, std::uint8_t kind,
                    std::span<const std::uint8_t> payload)
{
    const std::size_t at = out.size();
    out.resize(at + HeaderSize);
    out[at + KindOffset] = kind;
    plat::putU32(out.data() + at + LengthOffset, static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
}

std::vector<std::uint8_t> encodeDiscover()
{
    std::vector<std::uint8_t> out;
    appendEnvelope(out, std::uint8_t(Kind::Discover), {});
    return out;
}

std::vector<std::uint8_t> encodeStatus(Kind kind, std::uint32_t status)
{
    std::uint8_t payload[StatusSize];
    plat::putU32(payload, status);
    std::vector<std::uint8_t> out;
    appendEnvelope(out, std::uint8_t(kind), payload);
    return out;
}

std::vector<std::uint8_t> encodeText(Kind kind, std::string_view text)
{
    const std::size_t zero = text.find('\0');
    if (zero != std::string_view::npos)
        text = text.substr(0, zero);
    if (text.size() + 1 > MaxPayload)
        return {};
    std::vector<std::uint8_t> out;
    out.reserve(HeaderSize + text.size() + 1);
    out.resize(HeaderSize);
    out[KindOffset] = std::uint8_t(kind);
    plat::putU32(out.data() + LengthOffset, static_cast<std::uint32_t>(text.size() + 1));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

} // namespace ClientWire
