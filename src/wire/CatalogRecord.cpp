#include "wire/CatalogRecord.h"

#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/Files.h"

#include <algorithm>

using namespace catalog::RecordLayout;

namespace {
constexpr std::size_t FileNameAt = FileDescription + plat::FindLayout::FileName;
constexpr std::size_t FileNameSize = plat::FindLayout::FileNameSize;
static_assert(FileNameAt + FileNameSize <= HopCount);
} // namespace

std::uint32_t CatalogRecord::recordLength() const
{
    return plat::getU32(&bytes[RecordLength]);
}
std::uint32_t CatalogRecord::recordTag() const
{
    return plat::getU32(&bytes[RecordTag]);
}
std::uint32_t CatalogRecord::pendingFlag() const
{
    return plat::getU32(&bytes[PendingFlag]);
}
std::uint32_t CatalogRecord::kind() const
{
    return plat::getU32(&bytes[Kind]);
}
plat::SystemTime CatalogRecord::registrationTime() const
{
    return plat::decodeSystemTime(&bytes[RegistrationTime]);
}
plat::SystemTime CatalogRecord::expiry() const
{
    return plat::decodeSystemTime(&bytes[Expiry]);
}
std::uint32_t CatalogRecord::completeFlag() const
{
    return plat::getU32(&bytes[CompleteFlag]);
}
std::uint32_t CatalogRecord::bytesReceived() const
{
    return plat::getU32(&bytes[BytesReceived]);
}
plat::FindRecord CatalogRecord::fileDescription() const
{
    plat::FindRecord f;
    std::copy_n(&bytes[FileDescription], f.bytes.size(), f.bytes.begin());
    return f;
}
std::int32_t CatalogRecord::hopCount() const
{
    return plat::getI32(&bytes[HopCount]);
}
std::uint32_t CatalogRecord::linkFlag() const
{
    return plat::getU32(&bytes[LinkFlag]);
}
std::uint32_t CatalogRecord::checksumFlag() const
{
    return plat::getU32(&bytes[ChecksumFlag]);
}
std::uint32_t CatalogRecord::checksum() const
{
    return plat::getU32(&bytes[Checksum]);
}

std::string_view CatalogRecord::originNodeCp932() const
{
    return plat::fieldView(&bytes[OriginNode], NodeNameSize);
}
std::string CatalogRecord::originNodeUtf8() const
{
    return plat::fieldToUtf8(&bytes[OriginNode], NodeNameSize);
}
std::string_view CatalogRecord::partyNameCp932() const
{
    return plat::fieldView(&bytes[PartyName], PartyNameSize);
}
std::string CatalogRecord::partyNameUtf8() const
{
    return plat::fieldToUtf8(&bytes[PartyName], PartyNameSize);
}
std::string_view CatalogRecord::fileNameCp932() const
{
    return plat::fieldView(&bytes[FileNameAt], FileNameSize);
}
std::string CatalogRecord::fileNameUtf8() const
{
    return plat::fieldToUtf8(&bytes[FileNameAt], FileNameSize);
}
std::string_view CatalogRecord::hopCp932(std::size_t i) const
{
    if (i >= MaxHops)
        return {};
    return plat::fieldView(&bytes[HopList + i * NodeNameSize], NodeNameSize);
}

std::uint32_t CatalogRecord::fileSize() const
{
    return plat::getU32(&bytes[FileDescription + plat::FindLayout::SizeLow]);
}

void CatalogRecord::setRecordLength(std::uint32_t v)
{
    plat::putU32(&bytes[RecordLength], v);
}
void CatalogRecord::setRecordTag(std::uint32_t v)
{
    plat::putU32(&bytes[RecordTag], v);
}
void CatalogRecord::setPendingFlag(std::uint32_t v)
{
    plat::putU32(&bytes[PendingFlag], v);
}
void CatalogRecord::setKind(std::uint32_t v)
{
    plat::putU32(&bytes[Kind], v);
}
void CatalogRecord::setRegistrationTime(const plat::SystemTime& t)
{
    plat::encodeSystemTime(t, &bytes[RegistrationTime]);
}
void CatalogRecord::setExpiry(const plat::SystemTime& t)
{
    plat::encodeSystemTime(t, &bytes[Expiry]);
}
void CatalogRecord::setCompleteFlag(std::uint32_t v)
{
    plat::putU32(&bytes[CompleteFlag], v);
}
void CatalogRecord::setBytesReceived(std::uint32_t v)
{
    plat::putU32(&bytes[BytesReceived], v);
}
void CatalogRecord::setFileDescription(const plat::FindRecord& f)
{
    std::copy(f.bytes.begin(), f.bytes.end(), &bytes[FileDescription]);
}
void CatalogRecord::setHopCount(std::int32_t v)
{
    plat::putI32(&bytes[HopCount], v);
}
void CatalogRecord::setLinkFlag(std::uint32_t v)
{
    plat::putU32(&bytes[LinkFlag], v);
}
void CatalogRecord::setChecksumFlag(std::uint32_t v)
{
    plat::putU32(&bytes[ChecksumFlag], v);
}
void CatalogRecord::setChecksum(std::uint32_t v)
{
    plat::putU32(&bytes[Checksum], v);
}

void CatalogRecord::setOriginNodeCp932(std::string_view cp932)
{
    plat::copyCp932Field(&bytes[OriginNode], NodeNameSize, cp932);
}
bool CatalogRecord::setOriginNodeUtf8(std::string_view utf8)
{
    return plat::copyUtf8Field(&bytes[OriginNode], NodeNameSize, utf8);
}
void CatalogRecord::setPartyNameCp932(std::string_view cp932)
{
    plat::copyCp932Field(&bytes[PartyName], PartyNameSize, cp932);
}
bool CatalogRecord::setPartyNameUtf8(std::string_view utf8)
{
    return plat::copyUtf8Field(&bytes[PartyName], PartyNameSize, utf8);
}
void CatalogRecord::setHopCp932(std::size_t i, std::string_view cp932)
{
    if (i < MaxHops)
        plat::copyCp932Field(&bytes[HopList + i * NodeNameSize], NodeNameSize, cp932);
}

namespace catalog {

std::uint32_t recordByteSum(const CatalogRecord& r)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < CatalogRecord::Size; ++i)
        if (i < Checksum || i >= Checksum + 4)
            sum += r.bytes[i];
    return sum;
}

void stampChecksum(CatalogRecord& r)
{
    r.setChecksumFlag(1);
    r.setChecksum(recordByteSum(r));
}

bool verifyChecksum(const CatalogRecord& r)
{
    return r.checksum() == recordByteSum(r);
}

std::optional<std::string> cp932Field(std::string_view utf8, std::size_t fieldSize)
{
    const auto cp932 = plat::toCp932(utf8);
    if (!cp932)
        return std::nullopt;
    std::string field(fieldSize, '\0');
    plat::copyCp932Field(reinterpret_cast<std::uint8_t*>(field.data()), fieldSize, *cp932);
    return std::string(plat::fieldView(field.data(), fieldSize));
}

bool isSafeRecordName(std::string_view cp932)
{
    if (cp932.empty() || !plat::isValidCp932(cp932))
        return false;
    const auto utf8 = plat::fromCp932(cp932);
    if (!utf8 || !plat::isSafeComponent(*utf8))
        return false;
    // CP932 spells some characters twice (81 E0 and 87 90 are both "≒"); both spellings would
    // name one file on disk, so only the spelling that encoding gives back is a name.
    const auto back = plat::toCp932(*utf8);
    return back && *back == cp932;
}

bool isValidRecord(const CatalogRecord& r)
{
    if (r.partyNameCp932().empty())
        return false;
    if (!isSafeRecordName(r.originNodeCp932()) || !isSafeRecordName(r.fileNameCp932()))
        return false;
    const plat::SystemTime reg = r.registrationTime();
    if (reg.month > 12 || reg.day > 31)
        return false;
    const std::int32_t hops = r.hopCount();
    if (hops < 0 || hops > static_cast<std::int32_t>(MaxHops))
        return false;
    for (std::int32_t i = 0; i < hops; ++i)
        if (!isSafeRecordName(r.hopCp932(static_cast<std::size_t>(i))))
            return false;
    return true;
}

bool sameVersion(const CatalogRecord& a, const CatalogRecord& b)
{
    using namespace RecordLayout;
    const auto same = [&](std::size_t from, std::size_t to) {
        return std::equal(a.bytes.begin() + from, a.bytes.begin() + to, b.bytes.begin() + from);
    };
    return a.originNodeCp932() == b.originNodeCp932() && same(FileDescription, HopCount) &&
           same(RegistrationTime, Expiry);
}

} // namespace catalog
