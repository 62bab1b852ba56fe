#include "support/MultiNode.h"
#include "support/TempDir.h"

#include "wire/CatalogRecord.h"
#include "wire/RecordBuilder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <filesystem>

using namespace std::chrono_literals;
using namespace multi;
namespace fs = std::filesystem;

namespace {
// Timers run twenty times faster: the folder is scanned every ~0.3 s, peers are redialled every
// ~0.5 s and a connection says hello about every second.
const char* const kScale = "0.05";

using Node = MultiNode;

class NodeChain : public ::testing::Test
{
protected:
    TempDir root;
    Node a{"A", root.file("A"), freePort()};
    Node b{"B", root.file("B"), freePort()};
    Node c{"C", root.file("C"), freePort()};

    // A - B - C: B is the only way between A and C.
    void configureChain()
    {
        a.configure("chain", {&b});
        b.configure("chain", {&a, &c});
        c.configure("chain", {&b});
    }

    void startAll(const char* scale = kScale)
    {
        for (Node* n : {&a, &b, &c})
            n->start(scale);
    }

    void TearDown() override
    {
        for (Node* n : {&a, &b, &c})
            n->stopIfRunning();
    }
};
} // namespace

TEST_F(NodeChain, FileTravelsTwoHopsAndItsWithdrawalRemovesEveryCopy)
{
    configureChain();
    startAll();
    const std::string content = pattern(300 * 1024 + 17, 1);
    writeFile(a.file("SEND/report.bin"), content);

    const std::string atC = c.file("RECV/A/report.bin");
    ASSERT_TRUE(waitFor([&] { return readFile(atC) == content; }, 90s))
        << "C holds " << readFile(atC).size() << " bytes\n"
        << c.process->output();
    EXPECT_EQ(readFile(b.file("RECV/A/report.bin")), content);
    ASSERT_TRUE(waitFor(
        [&] {
            for (const CatalogRecord& r : catalogRecords(c.dir))
                if (r.fileNameUtf8() == "report.bin")
                    return r.completeFlag() == 1;
            return false;
        },
        30s));

    fs::remove(a.file("SEND/report.bin"));
    ASSERT_TRUE(
        waitFor([&] { return !fs::exists(atC) && !fs::exists(b.file("RECV/A/report.bin")); }, 90s));
    EXPECT_TRUE(waitFor(
        [&] {
            return !hasEntry(a.dir, "report.bin") && !hasEntry(b.dir, "report.bin") &&
                   !hasEntry(c.dir, "report.bin");
        },
        30s));
}

TEST_F(NodeChain, ExpiredRegistrationDisappearsOnEveryNode)
{
    // Every node holds a received file of a node that has left the party, registered four days
    // ago for one day. The first hourly maintenance (tick 601 of the heartbeat) marks it deleted
    // and the purge after it removes the entry and the file.
    configureChain();
    const std::string content = pattern(4096, 2);
    const std::string sample = root.file("old.txt");
    writeFile(sample, content);
    const auto record =
        completeRecord(sample, {"Z", "chain", 1, {std::time(nullptr) - 4 * 86400, 0}});
    ASSERT_TRUE(record);
    const std::string bytes(record->bytes.begin(), record->bytes.end());
    for (Node* n : {&a, &b, &c}) {
        writeFile(n->file("CATALOG/catalog.dat"), bytes);
        writeFile(n->file("RECV/Z/old.txt"), content);
    }
    // The maintenance runs about 300 s after start at the real pace, 6 s here.
    startAll("0.02");
    for (Node* n : {&a, &b, &c})
        EXPECT_TRUE(waitFor([&] { return !fs::exists(n->file("RECV/Z/old.txt")); }, 60s))
            << n->name;
    for (Node* n : {&a, &b, &c})
        EXPECT_TRUE(waitFor([&] { return !hasEntry(n->dir, "old.txt"); }, 30s)) << n->name;
}

TEST_F(NodeChain, NodeKilledDuringATransferResumesWhereItStood)
{
    a.configure("resume", {&b});
    b.configure("resume", {&a});
    const std::size_t size = 24 * 1024 * 1024;
    const std::string content = pattern(size, 3);
    writeFile(a.file("SEND/big.bin"), content);
    // A slower pace (about 5 MB/s) leaves time to catch the transfer half-way.
    a.start("0.1");
    b.start("0.1");

    const std::string atB = b.file("RECV/A/big.bin");
    ASSERT_TRUE(waitFor(
        [&] {
            std::error_code ec;
            const auto n = fs::file_size(atB, ec);
            return !ec && n >= size / 8;
        },
        120s));
    b.process->signal(SIGKILL);
    EXPECT_EQ(b.process->waitExit(20s), 128 + SIGKILL);

    std::uint32_t stoodAt = 0;
    for (const CatalogRecord& r : catalogRecords(b.dir))
        if (r.fileNameUtf8() == "big.bin")
            stoodAt = r.bytesReceived();
    ASSERT_GT(stoodAt, 0u);
    ASSERT_LT(stoodAt, size) << "the transfer ended before the kill";
    // A chunk is only taken at the offset the catalog has reached, so completing after the
    // restart means the transfer went on from there.
    b.start("0.1");
    EXPECT_TRUE(waitFor([&] { return readFile(atB) == content; }, 180s))
        << "B holds " << readFile(atB).size() << " bytes";
}

TEST_F(NodeChain, SigtermSavesTheCatalogAndTheSettings)
{
    // With the cache option the catalog file is written only at shutdown, so finding the record
    // there shows that SIGTERM took the orderly path.
    a.args.push_back("-CATALOGCASH");
    writeFile(a.file("Pavo.ini"), "[SYSTEM]\nPARTY=term\nNAME=A\n");
    writeFile(a.file("SEND/note.txt"), "a note");
    a.start(kScale);
    // The folder watch remembers what it registered in its list.
    ASSERT_TRUE(waitFor(
        [&] {
            return readFile(a.file("SEND/PAVO/dirlist.dat")).find("note.txt") != std::string::npos;
        },
        30s));
    EXPECT_FALSE(hasEntry(a.dir, "note.txt"));
    EXPECT_EQ(a.stop(), 0) << a.process->errors();

    EXPECT_TRUE(hasEntry(a.dir, "note.txt"));
    const std::string ini = readFile(a.file("Pavo.ini"));
    for (const char* line :
         {"PARTY=term", "NAME=A", "LIMITDAY=3", "WINDOW=0", "LISTENPORT=42000", "CONNECTNUM=0"})
        EXPECT_NE(ini.find(line), std::string::npos) << line << " missing from\n" << ini;
}
