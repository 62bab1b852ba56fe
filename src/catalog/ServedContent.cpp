#include "catalog/ServedContent.h"

#include "catalog/RecordTrust.h"
#include "platform/Diag.h"

#include <QCoreApplication>
#include <QString>

#include <sys/stat.h>

namespace {
const char* const kChangedOnDisk = "「%1」はディスク上で変わっています。他のノードへは送りません";
} // namespace

ServedContent::ServedContent(const RecordTrust& trust, ContentHasher& hasher)
    : m_trust(trust), m_hasher(hasher)
{
}

ServedContent::~ServedContent()
{
    for (const auto& [key, entry] : m_files)
        if (entry.verdict == Verdict::Checking)
            m_hasher.cancel(entry.job);
}

std::optional<ServedContent::FileState> ServedContent::stateOf(const std::string& path)
{
    struct stat st
    {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return FileState{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino), std::uint64_t(st.st_size),
                     std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

std::string ServedContent::keyOf(const CatalogRecord& record)
{
    namespace R = catalog::RecordLayout;
    const std::uint8_t* r = record.bytes.data();
    std::string key(reinterpret_cast<const char*>(r + R::OriginNode), R::NodeNameSize);
    key.append(reinterpret_cast<const char*>(r + R::FileDescription), plat::FindLayout::Size);
    key.append(reinterpret_cast<const char*>(r + R::RegistrationTime), plat::kSystemTimeSize);
    return key;
}

void ServedContent::markMatching(const CatalogRecord& record, const std::string& path,
                                 const Hash& hash)
{
    const auto state = stateOf(path);
    if (!state)
        return;
    Entry& entry = m_files[keyOf(record)];
    if (entry.verdict == Verdict::Checking && entry.job)
        m_hasher.cancel(entry.job);
    entry = Entry{*state, hash, Verdict::Matches, 0};
}

std::optional<ServedContent::Hash> ServedContent::expectedHash(const CatalogRecord& record) const
{
    return m_trust.contentHashOf(record);
}

bool ServedContent::servable(const CatalogRecord& record, const std::string& path)
{
    const auto expected = m_trust.contentHashOf(record);
    if (!expected)
        return true;
    const auto state = stateOf(path);
    if (!state)
        return false;
    const std::string key = keyOf(record);
    const auto it = m_files.find(key);
    if (it != m_files.end() && it->second.state == *state && it->second.expected == *expected)
        return it->second.verdict == Verdict::Matches;
    check(key, path, *state, *expected, record.fileNameUtf8());
    return false;
}

void ServedContent::check(const std::string& key, const std::string& path, const FileState& state,
                          const Hash& expected, const std::string& name)
{
    Entry& entry = m_files[key];
    if (entry.verdict == Verdict::Checking && entry.job)
        m_hasher.cancel(entry.job);
    entry = Entry{state, expected, Verdict::Checking, 0};
    entry.job = m_hasher.start(path, [this, key, state, name](const auto& digest) {
        const auto it = m_files.find(key);
        if (it == m_files.end() || !(it->second.state == state))
            return;
        const bool matches = digest && *digest == it->second.expected;
        it->second.verdict = matches ? Verdict::Matches : Verdict::Differs;
        it->second.job = 0;
        if (matches)
            return;
        plat::diag("ServedContent: %s no longer holds what its origin registered, not served\n",
                   name.c_str());
        if (m_notice)
            m_notice(QCoreApplication::translate("Pavo", kChangedOnDisk)
                         .arg(QString::fromStdString(name))
                         .toStdString());
    });
}
