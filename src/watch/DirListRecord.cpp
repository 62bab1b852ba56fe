#include "watch/DirListRecord.h"

#include "platform/Bytes.h"

#include <algorithm>
#include <cstring>

namespace watch {

void encodeDirListRecord(const DirListRecord& record, std::uint8_t* out)
{
    plat::putU32(out + DirListLayout::LinkFlag, record.linkFlag);
    std::memset(out + DirListLayout::Reserved, 0, DirListLayout::ReservedSize);
    std::copy(record.find.bytes.begin(), record.find.bytes.end(), out + DirListLayout::Find);
}

DirListRecord decodeDirListRecord(const std::uint8_t* in)
{
    DirListRecord record;
    record.linkFlag = plat::getU32(in + DirListLayout::LinkFlag);
    std::copy_n(in + DirListLayout::Find, plat::FindLayout::Size, record.find.bytes.begin());
    return record;
}

std::vector<DirListRecord> decodeDirList(const std::vector<std::uint8_t>& bytes)
{
    std::vector<DirListRecord> records;
    records.reserve(bytes.size() / DirListLayout::Size);
    for (std::size_t at = 0; at + DirListLayout::Size <= bytes.size(); at += DirListLayout::Size)
        records.push_back(decodeDirListRecord(bytes.data() + at));
    return records;
}

std::vector<std::uint8_t> encodeDirList(const std::vector<DirListRecord>& records)
{
    std::vector<std::uint8_t> bytes(records.size() * DirListLayout::Size);
    for (std::size_t i = 0; i < records.size(); ++i)
        encodeDirListRecord(records[i], bytes.data() + i * DirListLayout::Size);
    return bytes;
}

} // namespace watch
