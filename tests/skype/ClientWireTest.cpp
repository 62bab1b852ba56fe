#include "skype/ClientWire.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using ClientWire::Kind;
using ClientWire::Parse;

Bytes header(std::uint8_t kind, std::uint32_t length)
{
    return {kind, std::uint8_t(length), std::uint8_t(length >> 8), std::uint8_t(length >> 16),
            std::uint8_t(length >> 24)};
}

Bytes concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct GoodCase
{
    const char* name;
    Bytes bytes;
    Kind kind;
    std::uint32_t status;
    std::string text;
};

TEST(ClientWire, CompleteFramesOfEveryKindAndEveryShorterPrefixNeedsMore)
{
    const std::vector<GoodCase> cases = {
        {"discover", ClientWire::encodeDiscover(), Kind::Discover, 0, ""},
        {"attach 0x8001", ClientWire::encodeStatus(Kind::Attach, 0x8001), Kind::Attach, 0x8001, ""},
        {"result 0", ClientWire::encodeStatus(Kind::Result, 0), Kind::Result, 0, ""},
        {"result high bits", ClientWire::encodeStatus(Kind::Result, 0xfedcba98u), Kind::Result,
         0xfedcba98u, ""},
        {"command", ClientWire::encodeText(Kind::Command, "SEARCH FRIENDS"), Kind::Command, 0,
         "SEARCH FRIENDS"},
        {"empty notification", ClientWire::encodeText(Kind::Notification, ""), Kind::Notification,
         0, ""},
        {"hand-made status", concat(header('A', 4), {1, 0, 0, 0}), Kind::Attach, 1, ""},
        {"text with an inner zero ends there", concat(header('N', 6), {'A', 'B', 0, 'C', 'D', 0}),
         Kind::Notification, 0, "AB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = ClientWire::parse(c.bytes);
        ASSERT_EQ(r.status, Parse::Complete);
        EXPECT_EQ(r.size, c.bytes.size());
        EXPECT_EQ(r.frame.kind, c.kind);
        EXPECT_EQ(r.frame.status, c.status);
        EXPECT_EQ(std::string(r.frame.text), c.text);
        for (std::size_t n = 0; n < c.bytes.size(); ++n) {
            const auto part = ClientWire::parse(std::span(c.bytes.data(), n));
            EXPECT_EQ(part.status, Parse::NeedMore) << "prefix of " << n << " bytes";
        }
    }
}

TEST(ClientWire, BadFramesAreRefusedFromTheHeaderAlone)
{
    struct BadCase
    {
        const char* name;
        Bytes bytes;
    };
    const std::vector<BadCase> cases = {
        {"unknown kind", header('X', 0)},
        {"zero kind", header(0, 4)},
        {"lower-case kind", header('c', 2)},
        {"length above the limit", header('C', ClientWire::MaxPayload + 1)},
        {"length 0xffffffff", header('N', 0xffffffffu)},
        {"discover with payload", header('D', 1)},
        {"attach with 3 bytes", header('A', 3)},
        {"result with 5 bytes", header('R', 5)},
        {"empty command", header('C', 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ClientWire::parse(c.bytes).status, Parse::Bad);
    }
}

TEST(ClientWire, TextWithoutTerminatingZeroIsBadOnceComplete)
{
    const Bytes frame = concat(header('C', 3), {'G', 'E', 'T'});
    EXPECT_EQ(ClientWire::parse(std::span(frame.data(), 6)).status, Parse::NeedMore);
    EXPECT_EQ(ClientWire::parse(frame).status, Parse::Bad);
}

TEST(ClientWire, LargestPayloadIsAcceptedAndBackToBackFramesParseOneAtATime)
{
    const std::string big(ClientWire::MaxPayload - 1, 'a');
    const Bytes frame = ClientWire::encodeText(Kind::Command, big);
    ASSERT_EQ(frame.size(), ClientWire::HeaderSize + ClientWire::MaxPayload);
    EXPECT_TRUE(ClientWire::encodeText(Kind::Command, big + "a").empty());

    const Bytes stream = concat(concat(frame, ClientWire::encodeStatus(Kind::Result, 7)),
                                ClientWire::encodeDiscover());
    std::span<const std::uint8_t> rest(stream);
    std::vector<Kind> kinds;
    while (!rest.empty()) {
        const auto r = ClientWire::parse(rest);
        ASSERT_EQ(r.status, Parse::Complete);
        kinds.push_back(r.frame.kind);
        if (r.frame.kind == Kind::Command) {
            EXPECT_EQ(r.frame.text.size(), big.size());
        }
        rest = rest.subspan(r.size);
    }
    EXPECT_EQ(kinds, (std::vector<Kind>{Kind::Command, Kind::Result, Kind::Discover}));
}

TEST(ClientWire, EnvelopeIgnoresKindButBoundsLength)
{
    const Bytes frame = concat(header('Z', 2), {9, 9, 7});
    const auto env = ClientWire::parseEnvelope(frame, 2);
    ASSERT_EQ(env.status, Parse::Complete);
    EXPECT_EQ(env.kind, 'Z');
    EXPECT_EQ(env.size, 7u);
    EXPECT_EQ(env.payload.size(), 2u);
    EXPECT_EQ(ClientWire::parseEnvelope(frame, 1).status, Parse::Bad);
}

TEST(ClientWire, EndpointPathLiesInTheRuntimeFolder)
{
    EXPECT_EQ(ClientWire::endpointPath("/run/user/1000"), "/run/user/1000/pavo-skype/client.sock");
    EXPECT_EQ(ClientWire::endpointPath("/tmp/x/"), "/tmp/x/pavo-skype/client.sock");
}

} // namespace
