#include "support/TempDir.h"

#include "catalog/ReceivedContent.h"
#include "catalog/RecordTrust.h"
#include "catalog/SealStore.h"
#include "catalog/ServedContent.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

using namespace catalog;

namespace {

CatalogRecord registration(const char* name, std::uint32_t size)
{
    CatalogRecord r;
    r.setKind(RecordKind::New);
    r.setOriginNodeCp932("B");
    r.setRegistrationTime({2026, 12, 5, 11, 9, 0, 0, 0});
    plat::FindRecord f;
    f.setNameCp932(name);
    f.setSize(size);
    r.setFileDescription(f);
    return r;
}

void write(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class ContentChecks : public ::testing::Test
{
protected:
    TempDir dir;
    SealStore seals{dir.file("seals.dat")};
    RecordTrust trust{seals, [] { return std::string("A"); }, nullptr, nullptr};
    ContentHasher hasher;
    ServedContent served{trust, hasher};
    std::vector<std::string> notices;
    const std::string content = std::string(300000, 'p') + "end";
    const CatalogRecord record = registration("f.bin", std::uint32_t(content.size()));

    void SetUp() override
    {
        served.setNotice([this](const std::string& text) { notices.push_back(text); });
        RecordSeal seal;
        seal.contentHash = ContentHasher::hashBytes(content.data(), content.size());
        trust.remember(record, seal);
    }
};

} // namespace

TEST_F(ContentChecks, AFileIsServedOnlyWhileItHoldsWhatItsOriginRegistered)
{
    const std::string path = dir.file("f.bin");
    write(path, content);
    EXPECT_TRUE(served.servable(registration("unsealed.bin", 3), path)) << "nothing vouched for";
    EXPECT_FALSE(served.servable(record, path)) << "not known yet: checked first";
    ASSERT_TRUE(plat::runUntil([&] { return !hasher.busy(); }, 10000));
    EXPECT_TRUE(served.servable(record, path));

    std::string changed = content;
    changed[5] = 'q';
    write(path, changed);
    EXPECT_FALSE(served.servable(record, path));
    ASSERT_TRUE(plat::runUntil([&] { return !hasher.busy(); }, 10000));
    EXPECT_FALSE(served.servable(record, path));
    EXPECT_FALSE(hasher.busy()) << "a file found changed is not hashed again while it stays so";
    EXPECT_EQ(notices.size(), 1u);

    write(path, content);
    served.markMatching(record, path, ContentHasher::hashBytes(content.data(), content.size()));
    EXPECT_TRUE(served.servable(record, path));
}

TEST_F(ContentChecks, AReceivedFileCompletesOnlyWhenItsWholeHashMatches)
{
    const std::string path = dir.file("recv.bin");
    std::string onDisk;
    ReceivedContent received(served, [&](const CatalogRecord&, std::uint32_t offset,
                                         std::size_t size, std::uint8_t* out) {
        const std::size_t n =
            std::min(size, onDisk.size() - std::min<std::size_t>(offset, onDisk.size()));
        std::copy_n(onDisk.data() + offset, n, out);
        return n;
    });
    const auto store = [&](const std::string& bytes, std::uint32_t offset) {
        onDisk.resize(offset);
        onDisk += bytes;
        write(path, onDisk);
        return received.stored(record, offset, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                               std::uint32_t(bytes.size()), path);
    };
    using V = ReceivedContent::Verdict;
    const std::size_t half = 150000;
    EXPECT_EQ(store(content.substr(0, half), 0), V::Continue);
    std::string bent = content.substr(half);
    bent[7] ^= 1;
    EXPECT_EQ(store(bent, half), V::Differs);

    // Started again, and resumed half-way by a node that kept no running hash: what is on the
    // disk is hashed first.
    EXPECT_EQ(store(content.substr(0, half), 0), V::Continue);
    ReceivedContent afterRestart(served, [&](const CatalogRecord&, std::uint32_t offset,
                                             std::size_t size, std::uint8_t* out) {
        const std::size_t n = std::min(size, onDisk.size() - offset);
        std::copy_n(onDisk.data() + offset, n, out);
        return n;
    });
    const std::string rest = content.substr(half);
    onDisk += rest;
    write(path, onDisk);
    EXPECT_EQ(afterRestart.stored(record, std::uint32_t(half),
                                  reinterpret_cast<const std::uint8_t*>(rest.data()),
                                  std::uint32_t(rest.size()), path),
              V::Matches);
    EXPECT_TRUE(served.servable(record, path)) << "a file found matching is served at once";
    EXPECT_EQ(received.stored(registration("unsealed.bin", 1), 0,
                              reinterpret_cast<const std::uint8_t*>("x"), 1, path),
              V::Unchecked);
}
