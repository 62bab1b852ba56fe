#include "app/PartyKeyStore.h"

#include "app/KeychainJob.h"
#include "platform/Hex.h"
#include "platform/IniFile.h"

#include <QByteArray>
#include <QString>
#include <qt6keychain/keychain.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSection = "PARTYKEY";
constexpr const char* kService = "Pavo";
// A secret service that does not answer within this time counts as absent.

std::string toHex(const PartyKeyStore::Key& key)
{
    return plat::toHex(key.data(), key.size());
}

// A stored key is exactly its bytes in hexadecimal; any other text is no key.
std::optional<PartyKeyStore::Key> fromHex(const std::string& text)
{
    PartyKeyStore::Key key{};
    if (text.size() != key.size() * 2 || !plat::isHexDigits(text) ||
        plat::hexToBytes(text, key.data(), key.size()) != key.size())
        return std::nullopt;
    return key;
}

void noteFileFallbackOnce()
{
    static bool said = false;
    if (said)
        return;
    said = true;
    std::fputs("pavo: no secret service is running; the party key is kept in Pavo.ini, readable "
               "by its owner only\n",
               stderr);
}

} // namespace

PartyKeyStore::PartyKeyStore(std::string iniPath, std::string workingFolder)
    : m_iniPath(std::move(iniPath)), m_workingFolder(std::move(workingFolder))
{
}

bool PartyKeyStore::keychainUsable()
{
    const char* off = std::getenv("PAVO_NO_KEYCHAIN");
    if (off && *off)
        return false;
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return bus && *bus;
}

std::string PartyKeyStore::keychainEntry() const
{
    return "party key " + m_workingFolder;
}

PartyKeyStore::Loaded PartyKeyStore::load(const std::string& partyName) const
{
    const plat::IniFile ini(m_iniPath);
    const std::string where = ini.getString(kSection, "STORE", "");
    Loaded out;
    if (where.empty())
        return out;
    out.state = State::Missing;
    const std::string party = ini.getString(kSection, "PARTY", "");
    if (party != partyName) {
        out.problem = "the party key was made for party \"" + party +
                      "\"; set it again for party \"" + partyName + "\"";
        return out;
    }
    if (where == "file") {
        out.key = fromHex(ini.getString(kSection, "KEY", ""));
        if (!out.key)
            out.problem = "the party key in Pavo.ini is damaged; set it again";
    } else if (where == "keychain") {
        if (keychainUsable()) {
            QKeychain::ReadPasswordJob job(QString::fromUtf8(kService));
            job.setKey(QString::fromStdString(keychainEntry()));
            if (runKeychainJob(job) &&
                static_cast<std::size_t>(job.binaryData().size()) == Key{}.size()) {
                Key key{};
                std::copy(job.binaryData().begin(), job.binaryData().end(), key.begin());
                out.key = key;
            }
        }
        if (!out.key)
            out.problem = "the party key is kept by the desktop's secret service, which cannot "
                          "give it now";
    } else {
        out.problem = "Pavo.ini names an unknown place for the party key";
    }
    if (out.key)
        out.state = State::Ready;
    return out;
}

bool PartyKeyStore::storeInFile(const Key& key, const std::string& partyName,
                                std::string* error) const
{
    // Owner only before the key is written: a rewrite keeps the mode of the file it replaces.
    const int fd = ::open(m_iniPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        if (fd >= 0)
            ::close(fd);
        if (error)
            *error = "Pavo.ini cannot be made private";
        return false;
    }
    ::close(fd);
    plat::IniFile ini(m_iniPath);
    if (!ini.writeString(kSection, "PARTY", partyName) ||
        !ini.writeString(kSection, "KEY", toHex(key)) ||
        !ini.writeString(kSection, "STORE", "file")) {
        if (error)
            *error = "Pavo.ini cannot be written";
        return false;
    }
    return true;
}

bool PartyKeyStore::store(const std::optional<Key>& key, const std::string& partyName,
                          std::string* error) const
{
    plat::IniFile ini(m_iniPath);
    const bool hadKeychain = ini.getString(kSection, "STORE", "") == "keychain";
    if (!key) {
        if (hadKeychain && keychainUsable()) {
            QKeychain::DeletePasswordJob job(QString::fromUtf8(kService));
            job.setKey(QString::fromStdString(keychainEntry()));
            runKeychainJob(job);
        }
        const bool ok = ini.writeString(kSection, "STORE", "") &&
                        ini.writeString(kSection, "KEY", "") &&
                        ini.writeString(kSection, "PARTY", "");
        if (!ok && error)
            *error = "Pavo.ini cannot be written";
        return ok;
    }
    if (keychainUsable()) {
        QKeychain::WritePasswordJob job(QString::fromUtf8(kService));
        job.setKey(QString::fromStdString(keychainEntry()));
        job.setBinaryData(
            QByteArray(reinterpret_cast<const char*>(key->data()), static_cast<int>(key->size())));
        if (runKeychainJob(job)) {
            const bool ok = ini.writeString(kSection, "PARTY", partyName) &&
                            ini.writeString(kSection, "KEY", "") &&
                            ini.writeString(kSection, "STORE", "keychain");
            if (!ok && error)
                *error = "Pavo.ini cannot be written";
            return ok;
        }
    }
    noteFileFallbackOnce();
    return storeInFile(*key, partyName, error);
}
