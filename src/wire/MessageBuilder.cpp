#include "wire/MessageBuilder.h"

#include <algorithm>
#include <cstring>

namespace catalog {

using MsgLayout::HeaderSize;

namespace {

std::size_t finish(MessageHeader& h, std::size_t bodyLength)
{
    h.setBodyLength(static_cast<std::uint16_t>(bodyLength));
    return HeaderSize + bodyLength;
}

} // namespace

std::size_t buildKeepAlive(std::uint8_t* buf)
{
    MessageHeader h(buf);
    h.init(MsgClass::KeepAlive, MsgType::KeepAlive);
    return finish(h, 0);
}

std::size_t buildHello(std::uint8_t* buf, std::string_view nodeNameCp932,
                       std::string_view partyNameCp932, std::uint32_t syncMode,
                       const plat::SystemTime& since)
{
    MessageHeader h(buf);
    h.init(MsgClass::Hello, MsgType::Hello);
    HelloBody body;
    body.nodeNameCp932 = std::string(nodeNameCp932);
    body.partyNameCp932 = std::string(partyNameCp932);
    body.syncMode = syncMode;
    body.since = since;
    body.write(buf);
    return finish(h, HelloLayout::BodySize);
}

std::size_t buildCatalogRequest(std::uint8_t* buf)
{
    MessageHeader h(buf);
    h.init(MsgClass::Catalog, MsgType::CatalogRequest);
    return finish(h, 0);
}

std::size_t buildCatalogBatch(std::uint8_t* buf, std::span<const CatalogRecord> records)
{
    if (records.size() > MaxBatchRecords)
        return 0;
    MessageHeader h(buf);
    h.init(MsgClass::Catalog, MsgType::CatalogBatch);
    h.setRecordCount(static_cast<std::uint32_t>(records.size()));
    for (std::size_t i = 0; i < records.size(); ++i)
        putRecordAt(buf, i, records[i]);
    return finish(h, records.size() * CatalogRecord::Size);
}

std::size_t buildFileDataRequest(std::uint8_t* buf, const CatalogRecord& record)
{
    MessageHeader h(buf);
    h.init(MsgClass::File, MsgType::FileRequest);
    h.setRecordCount(1);
    h.setFileOffset(record.bytesReceived());
    h.setFileSize(record.fileSize());
    putRecordAt(buf, 0, record);
    return finish(h, CatalogRecord::Size);
}

std::size_t buildFileData(std::uint8_t* buf, const CatalogRecord& record, std::uint32_t offset,
                          std::span<const std::uint8_t> chunk)
{
    if (chunk.size() > MaxChunkRoom)
        return 0;
    MessageHeader h(buf);
    h.init(MsgClass::File, MsgType::FileData);
    h.setRecordCount(1);
    h.setFileOffset(offset);
    h.setChunkLength(static_cast<std::uint32_t>(chunk.size()));
    h.setFileSize(record.fileSize());
    putRecordAt(buf, 0, record);
    if (!chunk.empty())
        std::memmove(buf + HeaderSize + CatalogRecord::Size, chunk.data(), chunk.size());
    return finish(h, CatalogRecord::Size + chunk.size());
}

CatalogRecord recordAt(const std::uint8_t* msg, std::size_t index)
{
    CatalogRecord r;
    std::copy_n(msg + HeaderSize + index * CatalogRecord::Size, CatalogRecord::Size,
                r.bytes.begin());
    return r;
}

void putRecordAt(std::uint8_t* msg, std::size_t index, const CatalogRecord& record)
{
    std::copy(record.bytes.begin(), record.bytes.end(),
              msg + HeaderSize + index * CatalogRecord::Size);
}

} // namespace catalog
