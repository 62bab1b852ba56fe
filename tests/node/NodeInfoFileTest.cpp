#include "node/NodeInfoFile.h"

#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using nodeinfo::FileImage;

const plat::SystemTime kStamp{2024, 5, 3, 15, 9, 41, 7, 250};

CNodeInfo sampleInfo()
{
    CNodeInfo info;
    info.nodeName = "NodeA";
    info.skypeId = "alice.skype";
    info.mailAddress = "alice@example.org";
    info.presence = CNodeInfo::PRESENCE_ABSENT;
    info.timeStamp = kStamp;
    info.neighbours = {"alpha", "beta"};
    info.version = "Ver.:1.0.0";
    info.information = "hello";
    info.route = {"not", "written"};
    return info;
}

void putText(std::vector<std::uint8_t>& bytes, std::size_t offset, const std::string& text)
{
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

// The expected image of sampleInfo(), written with the offsets and sizes of the file format.
std::vector<std::uint8_t> sampleFixture()
{
    std::vector<std::uint8_t> bytes(9124, 0);
    plat::putU32(&bytes[0], 1);
    plat::putU32(&bytes[4], 9124);
    const std::uint16_t stamp[8] = {2024, 5, 3, 15, 9, 41, 7, 250};
    for (int i = 0; i < 8; ++i)
        plat::putU16(&bytes[8 + 2 * std::size_t(i)], stamp[i]);
    putText(bytes, 24, "NodeA");
    plat::putU32(&bytes[56], 2);
    putText(bytes, 60, "alice.skype");
    putText(bytes, 93, "alice@example.org");
    plat::putU32(&bytes[352], 2);
    putText(bytes, 356, "alpha");
    putText(bytes, 356 + 32, "beta");
    putText(bytes, 868, "Ver.:1.0.0");
    putText(bytes, 932, "hello");
    return bytes;
}

std::vector<std::uint8_t> toVector(const FileImage& image)
{
    return {image.begin(), image.end()};
}

TEST(NodeInfoFile, WritesTheFixtureLayoutAndReadsItBack)
{
    const FileImage image = nodeinfo::encode(sampleInfo());
    EXPECT_EQ(toVector(image), sampleFixture());

    const auto read = nodeinfo::decode(sampleFixture());
    ASSERT_TRUE(read);
    CNodeInfo expected = sampleInfo();
    expected.route.clear(); // the route is never part of the file
    EXPECT_EQ(*read, expected);
}

TEST(NodeInfoFile, LongTextsAreCutAtWholeCharactersAndKeepTheirTerminator)
{
    CNodeInfo info;
    info.nodeName = std::string(40, 'n');
    info.skypeId = std::string(40, 's');
    info.mailAddress = std::string(300, 'm');
    // 20 double-byte characters: 40 CP932 bytes for a 32-byte field.
    std::string twenty;
    for (int i = 0; i < 20; ++i)
        twenty += "あ";
    info.neighbours.push_back(twenty);
    for (int i = 1; i < 20; ++i)
        info.neighbours.push_back("n" + std::to_string(i));
    info.version = std::string(100, 'v');
    info.information = std::string(1022, 'i') + "漢";

    const FileImage image = nodeinfo::encode(info);
    const auto read = nodeinfo::decode(image);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->nodeName, std::string(31, 'n'));
    EXPECT_EQ(read->skypeId, std::string(32, 's'));
    EXPECT_EQ(read->mailAddress, std::string(255, 'm'));
    EXPECT_EQ(read->version, std::string(63, 'v'));
    // The double-byte character does not fit before the terminator and is left out whole.
    EXPECT_EQ(read->information, std::string(1022, 'i'));
    std::string fifteen;
    for (int i = 0; i < 15; ++i)
        fifteen += "あ";
    ASSERT_EQ(read->neighbours.size(), 16u);
    EXPECT_EQ(read->neighbours[0], fifteen);
    EXPECT_EQ(read->neighbours[15], "n15");
    EXPECT_EQ(plat::getU32(&image[352]), 16u);
    for (std::size_t field : {24 + 31, 60 + 32, 93 + 255, 868 + 63, 932 + 1023})
        EXPECT_EQ(image[field], 0) << field;
}

TEST(NodeInfoFile, TextThatCp932CannotHoldLeavesItsFieldEmpty)
{
    CNodeInfo info = sampleInfo();
    info.information = "smile \xF0\x9F\x98\x80";
    const auto read = nodeinfo::decode(nodeinfo::encode(info));
    ASSERT_TRUE(read);
    EXPECT_EQ(read->information, "");
    EXPECT_EQ(read->nodeName, "NodeA");
}

struct BadFileCase
{
    const char* name;
    void (*damage)(std::vector<std::uint8_t>& bytes);
    bool readable;
    void (*check)(const CNodeInfo& info);
};

const BadFileCase kBadFiles[] = {
    {"short by one byte", [](auto& b) { b.pop_back(); }, false, nullptr},
    {"empty", [](auto& b) { b.clear(); }, false, nullptr},
    {"oversized: only the record is read", [](auto& b) { b.insert(b.end(), 5000, 0xFF); }, true,
     [](const CNodeInfo& i) { EXPECT_EQ(i.nodeName, "NodeA"); }},
    {"neighbour count far above 16",
     [](auto& b) {
         plat::putU32(&b[352], 0xFFFFFFFF);
         for (std::size_t s = 2; s < 16; ++s)
             putText(b, 356 + 32 * s, "x" + std::to_string(s));
     },
     true,
     [](const CNodeInfo& i) {
         ASSERT_EQ(i.neighbours.size(), 16u);
         EXPECT_EQ(i.neighbours[15], "x15");
         EXPECT_EQ(i.version, "Ver.:1.0.0");
     }},
    {"count above the names held shows only the names held",
     [](auto& b) { plat::putU32(&b[352], 5); }, true,
     [](const CNodeInfo& i) {
         EXPECT_EQ(i.neighbours, (std::vector<std::string>{"alpha", "beta"}));
     }},
    {"an empty slot for a repeated name does not hide the next name",
     [](auto& b) {
         std::memset(&b[356 + 32], 0, 32);
         putText(b, 356 + 64, "gamma");
     },
     true,
     [](const CNodeInfo& i) {
         EXPECT_EQ(i.neighbours, (std::vector<std::string>{"alpha", "gamma"}));
     }},
    {"unterminated texts end at their fields",
     [](auto& b) {
         std::memset(&b[24], 'N', 32);
         std::memset(&b[60], 'S', 33);
         std::memset(&b[93], 'M', 256);
         std::memset(&b[356], 'A', 32);
         std::memset(&b[868], 'V', 64);
         std::memset(&b[932], 'I', 1024 + 7168);
     },
     true,
     [](const CNodeInfo& i) {
         EXPECT_EQ(i.nodeName, std::string(32, 'N'));
         EXPECT_EQ(i.presence, CNodeInfo::PRESENCE_ABSENT);
         EXPECT_EQ(i.skypeId, std::string(33, 'S'));
         EXPECT_EQ(i.mailAddress, std::string(256, 'M'));
         EXPECT_EQ(i.neighbours[0], std::string(32, 'A'));
         EXPECT_EQ(i.version, std::string(64, 'V'));
         EXPECT_EQ(i.information, std::string(1024, 'I'));
     }},
    {"a double-byte character cut by the field's end is dropped",
     [](auto& b) {
         std::memset(&b[24], 'N', 31);
         b[24 + 31] = 0x82; // lead byte of a character whose trail lies outside the field
         b[56] = 0xA0;      // presence's low byte: a trail byte if the reader overran
     },
     true, [](const CNodeInfo& i) { EXPECT_EQ(i.nodeName, std::string(31, 'N')); }},
    {"invalid bytes show as the replacement character",
     [](auto& b) { putText(b, 93, std::string("a\x80z", 4)); }, true,
     [](const CNodeInfo& i) { EXPECT_EQ(i.mailAddress, "a\xEF\xBF\xBDz"); }},
    {"presence outside the known values", [](auto& b) { plat::putU32(&b[56], 7); }, true,
     [](const CNodeInfo& i) {
         EXPECT_EQ(i.presence, CNodeInfo::PRESENCE_UNKNOWN);
         EXPECT_EQ(presenceText(i.presence), "");
     }},
};

TEST(NodeInfoFile, DamagedFilesAreReadSafely)
{
    for (const BadFileCase& c : kBadFiles) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = sampleFixture();
        c.damage(bytes);
        const auto read = nodeinfo::decode(bytes);
        ASSERT_EQ(read.has_value(), c.readable);
        if (read && c.check)
            c.check(*read);
    }
}

TEST(NodeInfoFile, PresenceAndTimeStampTexts)
{
    EXPECT_EQ(presenceText(CNodeInfo::PRESENCE_CONTACTABLE), "在席(コンタクト可)");
    EXPECT_EQ(presenceText(CNodeInfo::PRESENCE_NOT_CONTACTABLE), "在席(コンタクト不可)");
    EXPECT_EQ(presenceText(CNodeInfo::PRESENCE_ABSENT), "不在");
    EXPECT_EQ(timeStampText(kStamp), "2024/ 5/15 09:41");
}

} // namespace

TEST(NodeInfoFile, IdentityKeyTravelsBehindItsMarkInTheReservedArea)
{
    CNodeInfo info = sampleInfo();
    plat::NodeKey::PublicKey key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = std::uint8_t(0xA0 + i);
    info.publicKey = key;
    const FileImage image = nodeinfo::encode(info);
    // Everything a reader built to the layout looks at is unchanged by the key.
    const std::vector<std::uint8_t> fixture = sampleFixture();
    EXPECT_TRUE(std::equal(fixture.begin(), fixture.begin() + 1956, image.begin()));
    EXPECT_EQ(plat::getU32(&image[1956]), 0x44495650u);
    EXPECT_TRUE(std::equal(key.begin(), key.end(), image.begin() + 1960));

    const auto back = nodeinfo::decode(image);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->publicKey, key);

    // Without the mark the same bytes are no key.
    FileImage unmarked = image;
    plat::putU32(&unmarked[1956], 0);
    EXPECT_FALSE(nodeinfo::decode(unmarked)->publicKey);
}
