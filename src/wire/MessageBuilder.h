#pragma once

#include "wire/CatalogRecord.h"
#include "wire/HelloBody.h"
#include "wire/MessageHeader.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

// Builders for every node-to-node message. Each writes a whole message (header and body, every
// unused byte zero) at the start of buf, which must hold MsgLayout::MaxMessage bytes, and
// returns the message length; 0 means the message could not be built and buf is unchanged.
// The sequence number stays 0: the transport stamps it when it sends.
namespace catalog {

// At most this many records travel in one catalog batch.
constexpr std::size_t MaxBatchRecords = 12;
// The room for file bytes after the record in one message: the body length is a u16.
constexpr std::size_t MaxChunkRoom = 0xFFFF - CatalogRecord::Size;
static_assert(MsgLayout::HeaderSize + CatalogRecord::Size + MaxChunkRoom <= MsgLayout::MaxMessage);
static_assert(MaxChunkRoom >= 51200);

std::size_t buildKeepAlive(std::uint8_t* buf);

// Node and party names as CP932 bytes; they are cut to their fields (32 and 24 bytes).
std::size_t buildHello(std::uint8_t* buf, std::string_view nodeNameCp932,
                       std::string_view partyNameCp932, std::uint32_t syncMode,
                       const plat::SystemTime& since);

std::size_t buildCatalogRequest(std::uint8_t* buf);

// 0 when more than MaxBatchRecords are given.
std::size_t buildCatalogBatch(std::uint8_t* buf, std::span<const CatalogRecord> records);

// Asks for the part of the record's file from its bytes received on.
std::size_t buildFileDataRequest(std::uint8_t* buf, const CatalogRecord& record);

// Carries chunk (bytes of the record's file starting at offset); 0 when the chunk is larger
// than MaxChunkRoom.
std::size_t buildFileData(std::uint8_t* buf, const CatalogRecord& record, std::uint32_t offset,
                          std::span<const std::uint8_t> chunk);

// The records at the start of a message's body (catalog batch, file messages).
CatalogRecord recordAt(const std::uint8_t* msg, std::size_t index);
void putRecordAt(std::uint8_t* msg, std::size_t index, const CatalogRecord& record);

} // namespace catalog
