#include "app/NodeKeyStore.h"

#include "app/KeychainJob.h"
#include "app/PartyKeyStore.h"
#include "platform/Hex.h"
#include "platform/IniFile.h"

#include <QByteArray>
#include <QString>
#include <qt6keychain/keychain.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSection = "NODEKEY";
constexpr const char* kService = "Pavo";

std::string toHex(const plat::NodeKey::Seed& seed)
{
    return plat::toHex(seed.data(), seed.size());
}

// A stored seed is exactly its bytes in hexadecimal; any other text is no key.
std::optional<plat::NodeKey::Seed> fromHex(const std::string& text)
{
    plat::NodeKey::Seed seed{};
    if (text.size() != seed.size() * 2 || !plat::isHexDigits(text) ||
        plat::hexToBytes(text, seed.data(), seed.size()) != seed.size())
        return std::nullopt;
    return seed;
}

void noteFileFallbackOnce()
{
    static bool said = false;
    if (said)
        return;
    said = true;
    std::fputs("pavo: no secret service is running; the node's identity key is kept in Pavo.ini, "
               "readable by its owner only\n",
               stderr);
}

} // namespace

NodeKeyStore::NodeKeyStore(std::string iniPath, std::string workingFolder)
    : m_iniPath(std::move(iniPath)), m_workingFolder(std::move(workingFolder))
{
}

std::string NodeKeyStore::keychainEntry() const
{
    return "node key " + m_workingFolder;
}

std::optional<plat::NodeKey> NodeKeyStore::readKeychain() const
{
    if (!PartyKeyStore::keychainUsable())
        return std::nullopt;
    QKeychain::ReadPasswordJob job(QString::fromUtf8(kService));
    job.setKey(QString::fromStdString(keychainEntry()));
    if (!runKeychainJob(job) || std::size_t(job.binaryData().size()) != plat::NodeKey::kSeedSize)
        return std::nullopt;
    plat::NodeKey::Seed seed{};
    std::copy(job.binaryData().begin(), job.binaryData().end(), seed.begin());
    return plat::NodeKey::fromSeed(seed);
}

NodeKeyStore::Loaded NodeKeyStore::loadOrCreate() const
{
    Loaded out;
    const plat::IniFile ini(m_iniPath);
    const std::string where = ini.getString(kSection, "STORE", "");
    if (where == "file") {
        if (const auto seed = fromHex(ini.getString(kSection, "KEY", "")))
            out.key = plat::NodeKey::fromSeed(*seed);
        if (!out.key)
            out.problem = "the node's identity key in Pavo.ini is damaged";
        return out;
    }
    if (where == "keychain") {
        out.key = readKeychain();
        if (!out.key)
            out.problem = "the node's identity key is kept by the desktop's secret service, "
                          "which cannot give it now";
        return out;
    }
    if (!where.empty()) {
        out.problem = "Pavo.ini names an unknown place for the node's identity key";
        return out;
    }
    auto fresh = plat::NodeKey::generate();
    if (!fresh) {
        out.problem = "no identity key could be made";
        return out;
    }
    if (!store(*fresh, &out.problem))
        return out;
    out.key = std::move(fresh);
    out.created = true;
    return out;
}

bool NodeKeyStore::storeInFile(const plat::NodeKey& key, std::string* error) const
{
    // Owner only before the key is written: a rewrite keeps the mode of the file it replaces.
    const int fd = ::open(m_iniPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        if (fd >= 0)
            ::close(fd);
        *error = "Pavo.ini cannot be made private";
        return false;
    }
    ::close(fd);
    plat::IniFile ini(m_iniPath);
    if (!ini.writeString(kSection, "KEY", toHex(key.seed())) ||
        !ini.writeString(kSection, "STORE", "file")) {
        *error = "Pavo.ini cannot be written";
        return false;
    }
    return true;
}

bool NodeKeyStore::store(const plat::NodeKey& key, std::string* error) const
{
    if (PartyKeyStore::keychainUsable()) {
        QKeychain::WritePasswordJob job(QString::fromUtf8(kService));
        job.setKey(QString::fromStdString(keychainEntry()));
        job.setBinaryData(QByteArray(reinterpret_cast<const char*>(key.seed().data()),
                                     static_cast<int>(key.seed().size())));
        if (runKeychainJob(job)) {
            plat::IniFile ini(m_iniPath);
            if (ini.writeString(kSection, "STORE", "keychain"))
                return true;
            *error = "Pavo.ini cannot be written";
            return false;
        }
    }
    noteFileFallbackOnce();
    return storeInFile(key, error);
}
