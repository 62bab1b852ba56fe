#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The 320-byte file description (the layout of the Windows find record WIN32_FIND_DATAA),
// filled from stat(). Names are CP932 bytes, as in every stored record.
namespace plat {

namespace FindAttr {
constexpr std::uint32_t ReadOnly = 0x01;
constexpr std::uint32_t Hidden = 0x02;
constexpr std::uint32_t Directory = 0x10;
constexpr std::uint32_t Archive = 0x20;
constexpr std::uint32_t Device = 0x40; // devices, sockets and pipes: never an ordinary file
// A symbolic link described as itself (listFolder, noFollow). Whether it is a shortcut depends on
// its name (Shortcut.h); any other link is not an ordinary file either.
constexpr std::uint32_t ReparsePoint = 0x400;
} // namespace FindAttr

namespace FindLayout {
constexpr std::size_t Size = 320;
constexpr std::size_t Attributes = 0;
constexpr std::size_t CreationTime = 4;
constexpr std::size_t LastAccessTime = 12;
constexpr std::size_t LastWriteTime = 20;
constexpr std::size_t SizeHigh = 28;
constexpr std::size_t SizeLow = 32;
constexpr std::size_t Reserved0 = 36;
constexpr std::size_t Reserved1 = 40;
constexpr std::size_t FileName = 44;
constexpr std::size_t FileNameSize = 260;
constexpr std::size_t ShortName = 304;
constexpr std::size_t ShortNameSize = 14;
static_assert(FileName + FileNameSize == ShortName);
static_assert(ShortName + ShortNameSize + 2 == Size);
} // namespace FindLayout

// The raw 320 bytes, field access through the accessors below.
struct FindRecord
{
    std::array<std::uint8_t, FindLayout::Size> bytes{};

    std::uint32_t attributes() const;
    std::uint64_t creationTime() const;
    std::uint64_t lastAccessTime() const;
    std::uint64_t lastWriteTime() const;
    std::uint32_t sizeHigh() const;
    std::uint32_t sizeLow() const;
    std::uint64_t size() const { return (std::uint64_t(sizeHigh()) << 32) | sizeLow(); }
    // The file name field's CP932 bytes, up to its first zero.
    std::string nameCp932() const;
    // The file name in UTF-8 (for paths and display).
    std::string nameUtf8() const;

    void setAttributes(std::uint32_t v);
    void setCreationTime(std::uint64_t v);
    void setLastAccessTime(std::uint64_t v);
    void setLastWriteTime(std::uint64_t v);
    void setSize(std::uint64_t v);
    void setNameCp932(std::string_view cp932);

    bool operator==(const FindRecord&) const = default;
};
static_assert(sizeof(FindRecord) == FindLayout::Size);

enum class FindResult
{
    Ok,
    NotFound, // no such file, or a dangling link
    BadName,  // the file name cannot be written in CP932 (or is too long for the field)
    Error,    // any other failure of stat()
};

// Describes the file at path (following a final symbolic link unless noFollow). The name field
// gets the last component of path.
FindResult statFindRecord(const std::string& path, FindRecord& out, bool noFollow = false);

struct FolderEntry
{
    std::string name; // UTF-8 as on disk
    FindRecord record;
    FindResult result = FindResult::Ok;
};

// The entries of a folder (not "." and ".."), links described as themselves (not followed),
// in no particular order. Empty with ok=false when the folder cannot be listed.
std::vector<FolderEntry> listFolder(const std::string& folder, bool* ok = nullptr);

} // namespace plat
