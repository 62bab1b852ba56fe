#pragma once

#include "node/CNodeInfo.h"
#include "platform/LocalTime.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The node-information file "nodeInfomation.nod": one 9124-byte record, little-endian, text
// fields CP932, zero-terminated and zero-padded. Read and written field by field here only.
namespace nodeinfo {

namespace FileLayout {
constexpr std::size_t Kind = 0;
constexpr std::size_t Length = 4;
constexpr std::size_t TimeStamp = 8;
constexpr std::size_t NodeName = 24;
constexpr std::size_t NameSize = 32;
constexpr std::size_t Presence = 56;
constexpr std::size_t SkypeId = 60;
constexpr std::size_t SkypeIdSize = 33;
constexpr std::size_t MailAddress = 93;
constexpr std::size_t MailAddressSize = 256;
constexpr std::size_t Padding = 349;
constexpr std::size_t PaddingSize = 3;
constexpr std::size_t NeighbourCount = 352;
constexpr std::size_t Neighbours = 356;
constexpr std::size_t MaxNeighbours = 16;
constexpr std::size_t Version = 868;
constexpr std::size_t VersionSize = 64;
constexpr std::size_t Information = 932;
constexpr std::size_t InformationSize = 1024;
constexpr std::size_t Reserved = 1956;
constexpr std::size_t ReservedSize = 7168;
constexpr std::size_t Size = 9124;
// Inside Reserved, which a reader built to the original design never looks at: the node's
// identity key, marked by KeyMagic.
constexpr std::size_t KeyMark = 1956;
constexpr std::size_t PublicKey = 1960;
constexpr std::size_t KeyEnd = PublicKey + plat::NodeKey::kPublicSize;

constexpr std::uint32_t KindValue = 1;
// "PVID", little-endian.
constexpr std::uint32_t KeyMagic = 0x44495650;

static_assert(TimeStamp + plat::kSystemTimeSize == NodeName);
static_assert(NodeName + NameSize == Presence);
static_assert(Presence + 4 == SkypeId);
static_assert(SkypeId + SkypeIdSize == MailAddress);
static_assert(MailAddress + MailAddressSize == Padding);
static_assert(Padding + PaddingSize == NeighbourCount);
static_assert(NeighbourCount + 4 == Neighbours);
static_assert(Neighbours + MaxNeighbours * NameSize == Version);
static_assert(Version + VersionSize == Information);
static_assert(Information + InformationSize == Reserved);
static_assert(Reserved + ReservedSize == Size);
static_assert(KeyMark == Reserved && PublicKey == KeyMark + 4 && KeyEnd <= Size);
static_assert(MaxNeighbours == CNodeInfo::kMaxNeighbours);
} // namespace FileLayout

using FileImage = std::array<std::uint8_t, FileLayout::Size>;

// The file image of info (its route is not part of the file). Every text is cut at a whole
// CP932 character so that its field keeps a terminating zero; at most 16 neighbours are
// written, packed from the first slot. A text that CP932 cannot hold leaves its field empty
// (with a diagnostic line) rather than being stored mangled.
FileImage encode(const CNodeInfo& info);

// The node information a file holds. Only the first 9124 bytes are read; a shorter file holds
// no whole record and gives nothing. Texts end at their first zero or their field's end, a
// double-byte character cut by the field's end is dropped and any other invalid byte shows as
// U+FFFD. The neighbour count is bounded to 16; the first that many non-empty slots are taken,
// so a writer that left a slot empty for a repeated name does not hide the names after it. A
// presence outside 0..2 reads as PRESENCE_UNKNOWN. The route is left empty. The identity key is
// taken only behind its mark.
std::optional<CNodeInfo> decode(std::span<const std::uint8_t> bytes);

} // namespace nodeinfo
