#include "wire/CatalogRecord.h"

#include "platform/Bytes.h"

#include <gtest/gtest.h>

#include <string>

using namespace catalog;

namespace {

CatalogRecord validRecord()
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(RecordLayout::TagValue);
    r.setKind(RecordKind::New);
    r.setOriginNodeCp932("nodeA");
    r.setPartyNameCp932("party");
    r.setRegistrationTime({2024, 5, 3, 15, 10, 20, 30, 400});
    plat::FindRecord f;
    f.setNameCp932("report.txt");
    r.setFileDescription(f);
    return r;
}

void setFileName(CatalogRecord& r, std::string_view name)
{
    plat::FindRecord f = r.fileDescription();
    f.setNameCp932(name);
    r.setFileDescription(f);
}

} // namespace

TEST(CatalogRecord, FieldsLandAtTheirOffsets)
{
    CatalogRecord r = validRecord();
    r.setPendingFlag(1);
    r.setCompleteFlag(1);
    r.setBytesReceived(0x01020304);
    r.setHopCount(2);
    r.setHopCp932(1, "hop2");
    r.setLinkFlag(1);
    r.setExpiry({2024, 5, 1, 18, 0, 0, 0, 0});

    EXPECT_EQ(plat::getU32(&r.bytes[0]), 820u);
    EXPECT_EQ(plat::getU32(&r.bytes[4]), 0x00100002u);
    EXPECT_EQ(plat::getU32(&r.bytes[8]), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&r.bytes[12])), "nodeA");
    EXPECT_EQ(plat::getU32(&r.bytes[48]), 1u);
    EXPECT_EQ(plat::getU16(&r.bytes[52]), 2024);
    EXPECT_EQ(plat::getU16(&r.bytes[66]), 400);
    EXPECT_EQ(plat::getU16(&r.bytes[74]), 18);
    EXPECT_EQ(plat::getU32(&r.bytes[84]), 1u);
    EXPECT_EQ(plat::getU32(&r.bytes[92]), 0x01020304u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&r.bytes[96 + 44])), "report.txt");
    EXPECT_EQ(plat::getU32(&r.bytes[416]), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&r.bytes[420 + 32])), "hop2");
    EXPECT_EQ(plat::getU32(&r.bytes[740]), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&r.bytes[744])), "party");

    EXPECT_EQ(r.fileNameCp932(), "report.txt");
    EXPECT_EQ(r.hopCp932(1), "hop2");
    EXPECT_EQ(r.hopCp932(10), "");
    EXPECT_EQ(r.registrationTime().milliseconds, 400);
}

TEST(CatalogRecord, NodeNameFieldBoundary)
{
    CatalogRecord r;
    const std::string n31(31, 'a'), n32(32, 'b'), n40(40, 'c');
    r.setOriginNodeCp932(n31);
    EXPECT_EQ(r.originNodeCp932(), n31);
    EXPECT_EQ(r.bytes[12 + 31], 0);

    r.setOriginNodeCp932(n40);
    EXPECT_EQ(r.originNodeCp932(), std::string(32, 'c'));
    EXPECT_EQ(r.bytes[44], 0) << "the cut name must not run into the next field";

    r.setOriginNodeCp932(n32);
    EXPECT_EQ(r.originNodeCp932(), n32);
}

TEST(CatalogRecord, ZeroRecordChecksum)
{
    CatalogRecord r;
    r.setChecksumFlag(1);
    EXPECT_EQ(recordByteSum(r), 1u);
    EXPECT_FALSE(verifyChecksum(r));
    EXPECT_TRUE(checksumRejects(r));

    stampChecksum(r);
    EXPECT_EQ(r.checksum(), 1u);
    EXPECT_TRUE(verifyChecksum(r));
    EXPECT_FALSE(checksumRejects(r));
}

TEST(CatalogRecord, ChecksumCatchesAnyChangedByte)
{
    CatalogRecord r = validRecord();
    stampChecksum(r);
    ASSERT_TRUE(verifyChecksum(r));
    for (std::size_t at : {std::size_t(0), std::size_t(140), std::size_t(819)}) {
        CatalogRecord bad = r;
        bad.bytes[at] ^= 0x10;
        EXPECT_TRUE(checksumRejects(bad)) << "byte " << at;
    }
    // A record that never claimed a checksum is taken as it is.
    CatalogRecord unstamped = validRecord();
    unstamped.setChecksum(12345);
    EXPECT_FALSE(checksumRejects(unstamped));
}

TEST(CatalogRecord, Validity)
{
    struct Case
    {
        const char* what;
        void (*change)(CatalogRecord&);
        bool valid;
    };
    const Case cases[] = {
        {"plain record", [](CatalogRecord&) {}, true},
        {"Japanese names",
         [](CatalogRecord& r) {
             r.setOriginNodeCp932("\x83\x6d\x81\x5b\x83\x68"); // ノード
             setFileName(r, "\x95\x5c.txt");                   // 表.txt (trail byte 0x5C)
         },
         true},
        {"empty party", [](CatalogRecord& r) { r.setPartyNameCp932(""); }, false},
        {"empty origin", [](CatalogRecord& r) { r.setOriginNodeCp932(""); }, false},
        {"origin ..", [](CatalogRecord& r) { r.setOriginNodeCp932(".."); }, false},
        {"origin .", [](CatalogRecord& r) { r.setOriginNodeCp932("."); }, false},
        {"origin with slash", [](CatalogRecord& r) { r.setOriginNodeCp932("a/b"); }, false},
        {"origin with control", [](CatalogRecord& r) { r.setOriginNodeCp932("a\tb"); }, false},
        {"origin cut lead byte", [](CatalogRecord& r) { r.setOriginNodeCp932("ab\x83"); }, false},
        {"empty file name", [](CatalogRecord& r) { setFileName(r, ""); }, false},
        {"file name ..", [](CatalogRecord& r) { setFileName(r, ".."); }, false},
        {"file name path", [](CatalogRecord& r) { setFileName(r, "../../etc/passwd"); }, false},
        {"file name newline", [](CatalogRecord& r) { setFileName(r, "a\nb"); }, false},
        {"file name not CP932", [](CatalogRecord& r) { setFileName(r, "\xFF\xFF"); }, false},
        {"month 13",
         [](CatalogRecord& r) {
             r.setRegistrationTime({2024, 13, 0, 1, 0, 0, 0, 0});
         },
         false},
        {"day 32",
         [](CatalogRecord& r) {
             r.setRegistrationTime({2024, 1, 0, 32, 0, 0, 0, 0});
         },
         false},
        {"ten hops",
         [](CatalogRecord& r) {
             r.setHopCount(10);
             for (std::size_t i = 0; i < 10; ++i)
                 r.setHopCp932(i, "hop");
         },
         true},
        {"eleven hops", [](CatalogRecord& r) { r.setHopCount(11); }, false},
        {"negative hops", [](CatalogRecord& r) { r.setHopCount(-1); }, false},
        {"hop entry missing", [](CatalogRecord& r) { r.setHopCount(1); }, false},
        {"hop entry unsafe",
         [](CatalogRecord& r) {
             r.setHopCount(1);
             r.setHopCp932(0, "..");
         },
         false},
        {"junk after hop count ignored", [](CatalogRecord& r) { r.setHopCp932(5, "/x"); }, true},
    };
    for (const Case& c : cases) {
        CatalogRecord r = validRecord();
        c.change(r);
        EXPECT_EQ(isValidRecord(r), c.valid) << c.what;
    }
}
