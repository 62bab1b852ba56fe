#include "catalog/ReceivedContent.h"

#include "catalog/ServedContent.h"
#include "platform/Diag.h"

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

std::string keyOf(const CatalogRecord& record)
{
    namespace R = catalog::RecordLayout;
    const std::uint8_t* r = record.bytes.data();
    std::string key(reinterpret_cast<const char*>(r + R::OriginNode), R::NodeNameSize);
    key.append(reinterpret_cast<const char*>(r + R::FileDescription), plat::FindLayout::Size);
    key.append(reinterpret_cast<const char*>(r + R::RegistrationTime), plat::kSystemTimeSize);
    return key;
}

} // namespace

ReceivedContent::ReceivedContent(ServedContent& served, Reader reader)
    : m_served(served), m_read(std::move(reader))
{
}

ReceivedContent::Running& ReceivedContent::runningFor(const CatalogRecord& entry,
                                                      std::uint32_t offset)
{
    const std::string key = keyOf(entry);
    auto it = std::find_if(m_running.begin(), m_running.end(),
                           [&](const Running& r) { return r.key == key; });
    if (it == m_running.end()) {
        if (m_running.size() >= kRunning)
            m_running.pop_front();
        m_running.emplace_back();
        m_running.back().key = key;
        it = std::prev(m_running.end());
    }
    if (it->sha.length() != offset)
        prime(*it, entry, offset);
    return *it;
}

// What lies on the disk before offset, hashed at once: a resumed download is bounded by what an
// earlier run received, and this happens once per resume.
void ReceivedContent::prime(Running& run, const CatalogRecord& entry, std::uint32_t upTo)
{
    run.sha.reset();
    constexpr std::size_t kBlock = 1 << 20;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kBlock]);
    std::uint32_t at = 0;
    while (at < upTo) {
        const std::size_t want = std::min<std::size_t>(kBlock, upTo - at);
        const std::size_t got = m_read(entry, at, want, buffer.get());
        if (got == 0)
            break;
        run.sha.update(buffer.get(), got);
        at += std::uint32_t(got);
    }
}

ReceivedContent::Verdict ReceivedContent::stored(const CatalogRecord& entry, std::uint32_t offset,
                                                 const std::uint8_t* bytes, std::uint32_t n,
                                                 const std::string& path)
{
    const auto expected = m_served.expectedHash(entry);
    if (!expected)
        return Verdict::Unchecked;
    Running& run = runningFor(entry, offset);
    run.sha.update(bytes, n);
    if (std::uint64_t(offset) + n < entry.fileSize())
        return Verdict::Continue;
    const Hash digest = run.sha.finish();
    forget(entry);
    if (digest != *expected) {
        plat::diag("ReceivedContent: %s does not match its origin's hash, discarded\n",
                   entry.fileNameUtf8().c_str());
        return Verdict::Differs;
    }
    m_served.markMatching(entry, path, digest);
    return Verdict::Matches;
}

void ReceivedContent::forget(const CatalogRecord& entry)
{
    const std::string key = keyOf(entry);
    m_running.remove_if([&](const Running& r) { return r.key == key; });
}
