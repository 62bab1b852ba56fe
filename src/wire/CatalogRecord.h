#pragma once

#include "platform/FindRecord.h"
#include "platform/LocalTime.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The 820-byte record of one registered file: the same bytes travel in messages and lie in the
// cache file and the pending files. Field access goes through the accessors; the bytes are
// never reinterpreted as a struct.
namespace catalog {

namespace RecordLayout {
constexpr std::size_t RecordLength = 0;
constexpr std::size_t RecordTag = 4;
constexpr std::size_t PendingFlag = 8;
constexpr std::size_t OriginNode = 12;
constexpr std::size_t NodeNameSize = 32;
constexpr std::size_t Reserved0 = 44;
constexpr std::size_t Kind = 48;
constexpr std::size_t RegistrationTime = 52;
constexpr std::size_t Expiry = 68;
constexpr std::size_t CompleteFlag = 84;
constexpr std::size_t Reserved1 = 88;
constexpr std::size_t BytesReceived = 92;
constexpr std::size_t FileDescription = 96;
constexpr std::size_t HopCount = 416;
constexpr std::size_t HopList = 420;
constexpr std::size_t MaxHops = 10;
constexpr std::size_t LinkFlag = 740;
constexpr std::size_t PartyName = 744;
constexpr std::size_t PartyNameSize = 24;
constexpr std::size_t ChecksumFlag = 768;
constexpr std::size_t Checksum = 772;
constexpr std::size_t Reserved2 = 776;
constexpr std::size_t Reserved2Size = 44;
constexpr std::size_t Size = 820;

constexpr std::uint32_t TagValue = 0x00100002;

static_assert(OriginNode + NodeNameSize == Reserved0);
static_assert(RegistrationTime + plat::kSystemTimeSize == Expiry);
static_assert(Expiry + plat::kSystemTimeSize == CompleteFlag);
static_assert(FileDescription + plat::FindLayout::Size == HopCount);
static_assert(HopList + MaxHops * NodeNameSize == LinkFlag);
static_assert(PartyName + PartyNameSize == ChecksumFlag);
static_assert(Reserved2 + Reserved2Size == Size);
} // namespace RecordLayout

namespace RecordKind {
constexpr std::uint32_t New = 1;
constexpr std::uint32_t Deleted = 2;
constexpr std::uint32_t Changed = 3;
} // namespace RecordKind

} // namespace catalog

struct CatalogRecord
{
    static constexpr std::size_t Size = catalog::RecordLayout::Size;

    std::array<std::uint8_t, Size> bytes{};

    std::uint32_t recordLength() const;
    std::uint32_t recordTag() const;
    std::uint32_t pendingFlag() const;
    std::uint32_t kind() const;
    plat::SystemTime registrationTime() const;
    plat::SystemTime expiry() const;
    std::uint32_t completeFlag() const;
    std::uint32_t bytesReceived() const;
    plat::FindRecord fileDescription() const;
    std::int32_t hopCount() const;
    std::uint32_t linkFlag() const;
    std::uint32_t checksumFlag() const;
    std::uint32_t checksum() const;

    // Text fields, as stored (CP932, up to the first zero or the field's end) and as UTF-8
    // (invalid bytes shown as U+FFFD; for display only, never for paths).
    std::string_view originNodeCp932() const;
    std::string originNodeUtf8() const;
    std::string_view partyNameCp932() const;
    std::string partyNameUtf8() const;
    std::string_view fileNameCp932() const;
    std::string fileNameUtf8() const;
    // Hop list entry i (0..9); empty outside the list.
    std::string_view hopCp932(std::size_t i) const;

    // Low 32 bits of the file description's size: the size every transfer works with.
    std::uint32_t fileSize() const;

    void setRecordLength(std::uint32_t v);
    void setRecordTag(std::uint32_t v);
    void setPendingFlag(std::uint32_t v);
    void setKind(std::uint32_t v);
    void setRegistrationTime(const plat::SystemTime& t);
    void setExpiry(const plat::SystemTime& t);
    void setCompleteFlag(std::uint32_t v);
    void setBytesReceived(std::uint32_t v);
    void setFileDescription(const plat::FindRecord& f);
    void setHopCount(std::int32_t v);
    void setLinkFlag(std::uint32_t v);
    void setChecksumFlag(std::uint32_t v);
    void setChecksum(std::uint32_t v);

    void setOriginNodeCp932(std::string_view cp932);
    // False (field untouched) when CP932 cannot hold the text.
    [[nodiscard]] bool setOriginNodeUtf8(std::string_view utf8);
    void setPartyNameCp932(std::string_view cp932);
    [[nodiscard]] bool setPartyNameUtf8(std::string_view utf8);
    // Writes entry i (0..9) of the hop list; nothing outside the list.
    void setHopCp932(std::size_t i, std::string_view cp932);

    bool operator==(const CatalogRecord&) const = default;
};
static_assert(sizeof(CatalogRecord) == CatalogRecord::Size);

namespace catalog {

// The record itself is a shared type of the whole program and lives in the global namespace
// (listener interfaces declare it there); catalog::CatalogRecord names the same type.
using ::CatalogRecord;

// The byte sum of the record with its checksum field taken as 0.
std::uint32_t recordByteSum(const CatalogRecord& r);
// Sets the checksum flag to 1 and the checksum to the byte sum.
void stampChecksum(CatalogRecord& r);
// True when the stored checksum equals the byte sum (whatever the flag says).
bool verifyChecksum(const CatalogRecord& r);
// A record is refused only when it claims a checksum (flag 1) that does not verify; a record
// without the flag is accepted unchanged.
inline bool checksumRejects(const CatalogRecord& r)
{
    return r.checksumFlag() == 1 && !verifyChecksum(r);
}

// A UTF-8 name as a record field of fieldSize bytes would hold it (CP932, cut the way the field
// cuts it), for comparing with names read from records. Empty when CP932 cannot hold the name.
std::optional<std::string> cp932Field(std::string_view utf8, std::size_t fieldSize);

// True when a name taken from a record can safely name a file or folder component: valid CP932
// that encodes back to the same bytes, not empty, not "." or "..", no "/" and no control
// character.
bool isSafeRecordName(std::string_view cp932);

// The catalog's validity rules, made strict enough that a record coming from a peer can never
// steer a path outside the catalog's folders: party name not empty; origin node name and file
// name safe (above); registration month at most 12 and day at most 31; hop count 0..10 and every
// hop list entry before it a safe name. An invalid record is never merged, never names a received
// file and never names a pending file.
bool isValidRecord(const CatalogRecord& r);

// Two records name the same version of a file: origin node, whole file description and
// registration time equal.
bool sameVersion(const CatalogRecord& a, const CatalogRecord& b);

} // namespace catalog
