#include "wire/MessageHeader.h"

#include "platform/Bytes.h"
#include "wire/CatalogRecord.h"
#include "wire/HelloBody.h"

#include <cstring>

namespace catalog {

using namespace MsgLayout;

std::uint16_t ConstMessageHeader::headerLength() const
{
    return plat::getU16(p_ + HeaderLength);
}
std::uint16_t ConstMessageHeader::bodyLength() const
{
    return plat::getU16(p_ + BodyLength);
}
std::uint16_t ConstMessageHeader::format() const
{
    return plat::getU16(p_ + Format);
}
std::uint16_t ConstMessageHeader::protocolVersion() const
{
    return plat::getU16(p_ + ProtocolVersion);
}
std::uint16_t ConstMessageHeader::messageClass() const
{
    return plat::getU16(p_ + MessageClass);
}
std::uint16_t ConstMessageHeader::messageType() const
{
    return plat::getU16(p_ + MessageType);
}
std::uint32_t ConstMessageHeader::recordCount() const
{
    return plat::getU32(p_ + RecordCount);
}
std::uint32_t ConstMessageHeader::fileOffset() const
{
    return plat::getU32(p_ + FileOffset);
}
std::uint32_t ConstMessageHeader::chunkLength() const
{
    return plat::getU32(p_ + ChunkLength);
}
std::uint32_t ConstMessageHeader::fileSize() const
{
    return plat::getU32(p_ + FileSize);
}
std::uint32_t ConstMessageHeader::sequence() const
{
    return plat::getU32(p_ + Sequence);
}

void MessageHeader::init(std::uint16_t msgClass, std::uint16_t msgType)
{
    std::memset(w_, 0, HeaderSize);
    plat::putU16(w_ + HeaderLength, HeaderSize);
    plat::putU16(w_ + Format, FormatValue);
    plat::putU16(w_ + ProtocolVersion, ProtocolValue);
    plat::putU16(w_ + MessageClass, msgClass);
    plat::putU16(w_ + MessageType, msgType);
}

void MessageHeader::setBodyLength(std::uint16_t v)
{
    plat::putU16(w_ + BodyLength, v);
}
void MessageHeader::setProtocolVersion(std::uint16_t v)
{
    plat::putU16(w_ + ProtocolVersion, v);
}
void MessageHeader::setMessageType(std::uint16_t v)
{
    plat::putU16(w_ + MessageType, v);
}
void MessageHeader::setRecordCount(std::uint32_t v)
{
    plat::putU32(w_ + RecordCount, v);
}
void MessageHeader::setFileOffset(std::uint32_t v)
{
    plat::putU32(w_ + FileOffset, v);
}
void MessageHeader::setChunkLength(std::uint32_t v)
{
    plat::putU32(w_ + ChunkLength, v);
}
void MessageHeader::setFileSize(std::uint32_t v)
{
    plat::putU32(w_ + FileSize, v);
}
void MessageHeader::setSequence(std::uint32_t v)
{
    plat::putU32(w_ + Sequence, v);
}

std::size_t messageLength(const std::uint8_t* buffer)
{
    return ConstMessageHeader(buffer).messageLength();
}

MessageCheck checkMessage(const std::uint8_t* buffer, std::size_t available)
{
    if (available < HeaderSize)
        return MessageCheck::Incomplete;
    const ConstMessageHeader h(buffer);
    if (h.headerLength() != HeaderSize || h.messageLength() > MaxMessage)
        return MessageCheck::Bad;
    if (available < h.messageLength())
        return MessageCheck::Incomplete;

    const std::size_t body = h.bodyLength();
    switch (h.messageClass()) {
    case MsgClass::Hello:
        if (h.messageType() == MsgType::Hello && body < HelloLayout::BodySize)
            return MessageCheck::Bad;
        break;
    case MsgClass::Catalog:
        // A record count beyond the body is not refused: the one reader of the count bounds it
        // by the body, so the records that did arrive are still merged.
        break;
    case MsgClass::File:
        if (body < CatalogRecord::Size || h.chunkLength() != body - CatalogRecord::Size)
            return MessageCheck::Bad;
        break;
    default:
        break;
    }
    return MessageCheck::Ok;
}

} // namespace catalog
