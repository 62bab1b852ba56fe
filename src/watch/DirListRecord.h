#pragma once

#include "platform/FindRecord.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One entry of the folder watch's list, as it lies in "dirlist.dat": the entry's link flag and
// the find record of the file (of the target, for a shortcut). An entry is identified by the file
// name in that find record alone.
namespace watch {

namespace DirListLayout {
constexpr std::size_t LinkFlag = 0;
constexpr std::size_t Reserved = 4;
constexpr std::size_t ReservedSize = 20;
constexpr std::size_t Find = 24;
// Offsets of the find record's fields within the whole record.
constexpr std::size_t LastWriteLow = Find + plat::FindLayout::LastWriteTime;
constexpr std::size_t LastWriteHigh = LastWriteLow + 4;
constexpr std::size_t SizeHigh = Find + plat::FindLayout::SizeHigh;
constexpr std::size_t SizeLow = Find + plat::FindLayout::SizeLow;
constexpr std::size_t FileName = Find + plat::FindLayout::FileName;
constexpr std::size_t ShortName = Find + plat::FindLayout::ShortName;
constexpr std::size_t Size = 344;

static_assert(Reserved + ReservedSize == Find);
static_assert(Find + plat::FindLayout::Size == Size);
static_assert(Find + plat::FindLayout::Attributes == 24);
static_assert(Find + plat::FindLayout::CreationTime == 28);
static_assert(Find + plat::FindLayout::LastAccessTime == 36);
static_assert(LastWriteLow == 44 && LastWriteHigh == 48);
static_assert(SizeHigh == 52 && SizeLow == 56);
static_assert(Find + plat::FindLayout::Reserved0 == 60);
static_assert(FileName == 68 && ShortName == 328);
} // namespace DirListLayout

struct DirListRecord
{
    std::uint32_t linkFlag = 0; // 1: a shortcut in the folder, find describes its target
    plat::FindRecord find;

    bool operator==(const DirListRecord&) const = default;
};

void encodeDirListRecord(const DirListRecord& record, std::uint8_t* out);
DirListRecord decodeDirListRecord(const std::uint8_t* in);

// Every whole record of bytes, in order; a piece shorter than a record at the end (left by an
// interrupted write) is not a record and is dropped.
std::vector<DirListRecord> decodeDirList(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> encodeDirList(const std::vector<DirListRecord>& records);

} // namespace watch
