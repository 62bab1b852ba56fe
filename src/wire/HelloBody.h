#pragma once

#include "platform/LocalTime.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The body of a hello message (class 2, type 8). Offsets count from the start of the message,
// so the header's 48 bytes come first.
namespace catalog {

namespace HelloLayout {
constexpr std::size_t Reserved0 = 48;
constexpr std::size_t NameBinding = 56;
constexpr std::size_t NodeName = 60;
constexpr std::size_t NodeNameSize = 32;
constexpr std::size_t SyncModeField = 92;
constexpr std::size_t SinceDate = 96;
constexpr std::size_t PartyName = 112;
constexpr std::size_t PartyNameSize = 24;
constexpr std::size_t Reserved1 = 136;
// Inside Reserved1, which a node built to the original design writes as zero and never reads:
// Pavo's flow block. FlowMagic marks it; FlowWindow is how many file data requests the sender
// takes in flight on this connection; FlowFlags carries FlowNews.
constexpr std::size_t FlowMark = 136;
constexpr std::size_t FlowWindow = 140;
constexpr std::size_t FlowFlags = 142;
constexpr std::size_t FlowEnd = 144;
constexpr std::size_t Reserved2 = 152;
constexpr std::size_t Reserved2Size = 928;
constexpr std::size_t MessageSize = 1080;
constexpr std::size_t BodySize = 1032;

static_assert(Reserved0 + 8 == NameBinding);
static_assert(NodeName + NodeNameSize == SyncModeField);
static_assert(SinceDate + plat::kSystemTimeSize == PartyName);
static_assert(PartyName + PartyNameSize == Reserved1);
static_assert(Reserved1 + 16 == Reserved2);
static_assert(FlowMark == Reserved1 && FlowWindow == FlowMark + 4 && FlowFlags == FlowWindow + 2);
static_assert(FlowEnd == FlowFlags + 2 && FlowEnd <= Reserved2);
static_assert(Reserved2 + Reserved2Size == MessageSize);
static_assert(MessageSize - BodySize == 48);
} // namespace HelloLayout

// "PVFL", little-endian.
constexpr std::uint32_t FlowMagic = 0x4C465650;
// The sender has catalog news for the receiver: a Pavo receiver starts its conversation at once.
constexpr std::uint16_t FlowNews = 0x0001;
// The sender reads the seals that follow a catalog batch's records, and sends them when the
// receiver says the same (catalog::SealBlockLayout).
constexpr std::uint16_t FlowSeals = 0x0002;

namespace SyncMode {
constexpr std::uint32_t None = 0;
constexpr std::uint32_t All = 1;
constexpr std::uint32_t Since = 2;
} // namespace SyncMode

// The fields of a hello, decoded. Names hold the field's CP932 bytes up to its first zero.
struct HelloBody
{
    std::uint32_t nameBinding = 0;
    std::string nodeNameCp932;
    std::uint32_t syncMode = SyncMode::None;
    plat::SystemTime since;
    std::string partyNameCp932;
    // The flow block: present only in hellos of Pavo nodes. flowWindow 0 without it.
    bool hasFlow = false;
    std::uint16_t flowWindow = 0;
    std::uint16_t flowFlags = 0;

    std::string nodeNameUtf8() const;
    std::string partyNameUtf8() const;

    // Reads the body of a message whose length was checked to be at least MessageSize.
    static HelloBody read(const std::uint8_t* msg);
    // Writes every body field (reserved ones zero) into msg[48..1080).
    void write(std::uint8_t* msg) const;
};

// Stamps the flow block into a built hello (msg at least MessageSize bytes).
void writeHelloFlow(std::uint8_t* msg, std::uint16_t window, std::uint16_t flags);

} // namespace catalog
