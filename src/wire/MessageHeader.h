#pragma once

#include <cstddef>
#include <cstdint>

// The 48-byte header that starts every node-to-node message, read and written in place over a
// message buffer. The header itself carries lengths and counts that come from peers: nothing in
// it is trusted until checkMessage() has bounded it against the bytes actually present.
namespace catalog {

namespace MsgLayout {
constexpr std::size_t HeaderLength = 0;
constexpr std::size_t BodyLength = 2;
constexpr std::size_t Format = 4;
constexpr std::size_t ProtocolVersion = 6;
constexpr std::size_t MessageClass = 8;
constexpr std::size_t MessageType = 10;
constexpr std::size_t RecordCount = 12;
constexpr std::size_t FileOffset = 16;
constexpr std::size_t ChunkLength = 20;
constexpr std::size_t FileSize = 24;
constexpr std::size_t Sequence = 28;
constexpr std::size_t Reserved = 32;
constexpr std::size_t ReservedSize = 16;
constexpr std::size_t HeaderSize = 48;
static_assert(Reserved + ReservedSize == HeaderSize);
static_assert(ProtocolVersion == Format + 2 && MessageType == MessageClass + 2);

// One send-queue slot: the largest message that may exist, header included.
constexpr std::size_t MaxMessage = 65792;
constexpr std::uint16_t FormatValue = 2;
constexpr std::uint16_t ProtocolValue = 2;
} // namespace MsgLayout

namespace MsgClass {
constexpr std::uint16_t KeepAlive = 0;
constexpr std::uint16_t Hello = 2;
constexpr std::uint16_t Catalog = 3;
constexpr std::uint16_t File = 4;
} // namespace MsgClass

namespace MsgType {
constexpr std::uint16_t KeepAlive = 0;      // class 0
constexpr std::uint16_t Hello = 8;          // class 2
constexpr std::uint16_t CatalogRequest = 0; // class 3
constexpr std::uint16_t CatalogBatch = 2;   // class 3
constexpr std::uint16_t FileRequest = 4;    // class 4
constexpr std::uint16_t FileData = 6;       // class 4
} // namespace MsgType

// Read access to a header; the buffer must hold at least HeaderSize bytes.
class ConstMessageHeader
{
public:
    explicit ConstMessageHeader(const std::uint8_t* msg) : p_(msg) {}

    std::uint16_t headerLength() const;
    std::uint16_t bodyLength() const;
    std::uint16_t format() const;
    std::uint16_t protocolVersion() const;
    std::uint16_t messageClass() const;
    std::uint16_t messageType() const;
    std::uint32_t recordCount() const;
    std::uint32_t fileOffset() const;
    std::uint32_t chunkLength() const;
    std::uint32_t fileSize() const;
    std::uint32_t sequence() const;

    // header length + body length, both as sent (at most 2 × 65535).
    std::size_t messageLength() const { return std::size_t(headerLength()) + bodyLength(); }
    const std::uint8_t* data() const { return p_; }

private:
    const std::uint8_t* p_;
};

// Read and write access to a header in a message buffer being built or turned around.
class MessageHeader : public ConstMessageHeader
{
public:
    explicit MessageHeader(std::uint8_t* msg) : ConstMessageHeader(msg), w_(msg) {}

    // Zeroes the header and writes header length 48, format 2 and protocol version 2,
    // class and type.
    void init(std::uint16_t msgClass, std::uint16_t msgType);

    void setBodyLength(std::uint16_t v);
    void setProtocolVersion(std::uint16_t v);
    void setMessageType(std::uint16_t v);
    void setRecordCount(std::uint32_t v);
    void setFileOffset(std::uint32_t v);
    void setChunkLength(std::uint32_t v);
    void setFileSize(std::uint32_t v);
    void setSequence(std::uint32_t v);

    std::uint8_t* data() { return w_; }

private:
    std::uint8_t* w_;
};

// header length + body length of the message in buffer (at least HeaderSize bytes).
std::size_t messageLength(const std::uint8_t* buffer);

enum class MessageCheck
{
    Ok,
    Incomplete, // fewer bytes than the header says
    Bad,        // a header that no sender of ours builds, or a body that cannot hold its parts
};

// Bounds a received message against the bytes present: header length 48, whole length at most
// MaxMessage and present, a hello body that holds a hello, and for file messages a body of one
// record plus the chunk. A catalog batch's record count is not checked here: whoever reads it
// takes at most what the body holds. Receivers run this before reading any count or offset.
MessageCheck checkMessage(const std::uint8_t* buffer, std::size_t available);

} // namespace catalog
