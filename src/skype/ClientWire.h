#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The frames that pass between a node and the desktop messaging client over the client's
// endpoint (a Unix-domain stream socket in the user's runtime folder). Every frame is
// 1 byte kind, a u32 little-endian payload length, then the payload. Pure functions over bytes:
// the connection keeps its buffer and loops over parse().
namespace ClientWire {

inline constexpr std::size_t KindOffset = 0;
inline constexpr std::size_t LengthOffset = 1;
inline constexpr std::size_t HeaderSize = 5;
static_assert(LengthOffset + 4 == HeaderSize);

// A length above this closes the connection: it is never used to allocate.
inline constexpr std::uint32_t MaxPayload = 1u << 20;
inline constexpr std::size_t StatusSize = 4;

enum class Kind : std::uint8_t
{
    Discover = 'D',     // node -> client, empty: the client answers with Attach frames
    Attach = 'A',       // client -> node, u32 attach status
    Command = 'C',      // node -> client, text + zero: answered by exactly one Result
    Result = 'R',       // client -> node, u32: non-zero taken, 0 not taken
    Notification = 'N', // client -> node, text + zero: replies come before the Result
};

// Attach statuses.
inline constexpr std::uint32_t AttachSuccess = 0;
inline constexpr std::uint32_t AttachPendingAuthorization = 1;
inline constexpr std::uint32_t AttachRefused = 2;
inline constexpr std::uint32_t AttachNotAvailable = 3;
inline constexpr std::uint32_t AttachAvailable = 0x8001;

// Where a user's client listens: <runtime folder>/pavo-skype/client.sock.
inline constexpr std::string_view EndpointFolder = "pavo-skype";
inline constexpr std::string_view EndpointName = "client.sock";
std::string endpointFolder(std::string_view runtimeFolder);
std::string endpointPath(std::string_view runtimeFolder);

enum class Parse
{
    Complete, // a whole frame of `size` bytes starts the buffer
    NeedMore, // a valid beginning; wait for more bytes
    Bad,      // the stream cannot be trusted any more: close the connection
};

// Header and length only, for any kind: Bad only when the length exceeds maxPayload.
// When Complete, payload points into bytes.
struct Envelope
{
    Parse status = Parse::NeedMore;
    std::size_t size = 0;
    std::uint8_t kind = 0;
    std::span<const std::uint8_t> payload;
};
Envelope parseEnvelope(std::span<const std::uint8_t> bytes, std::uint32_t maxPayload);

// One client frame. status is set for Attach and Result; text (up to the first zero, pointing
// into the parsed bytes) for Command and Notification.
struct Frame
{
    Kind kind = Kind::Discover;
    std::uint32_t status = 0;
    std::string_view text;
};

struct ParseResult
{
    Parse status = Parse::NeedMore;
    std::size_t size = 0;
    Frame frame;
};

// Bad for an unknown kind, a length above MaxPayload, a Discover with a payload, an Attach or
// Result whose payload is not 4 bytes, and a Command or Notification that does not end in zero.
// A Bad answer may come as soon as the header is there, before the payload has arrived.
ParseResult parse(std::span<const std::uint8_t> bytes);

void appendEnvelope(std::vector<std::uint8_t>& out, std::uint8_t kind,
                    std::span<const std::uint8_t> payload);
std::vector<std::uint8_t> encodeDiscover();
// kind is Attach or Result.
std::vector<std::uint8_t> encodeStatus(Kind kind, std::uint32_t status);
// kind is Command or Notification; the text is cut at its first zero byte and gets its
// terminating zero. Empty result when the text does not fit into MaxPayload.
std::vector<std::uint8_t> encodeText(Kind kind, std::string_view text);

} // namespace ClientWire
