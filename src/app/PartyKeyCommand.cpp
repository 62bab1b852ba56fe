#include "app/PartyKeyCommand.h"

#include "app/PartyKeyStore.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/KeyDerivation.h"

#include <openssl/crypto.h>

namespace {

// One line without its end; false when the input ends before any byte or the line is too long.
bool readLine(std::FILE* in, std::string& line, bool* tooLong)
{
    line.clear();
    *tooLong = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() >= PartyKeyCommand::kMaxLine) {
            *tooLong = true;
            return false;
        }
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

} // namespace

int PartyKeyCommand::run(std::FILE* in, const std::string& workingFolder)
{
    const std::string iniPath = plat::joinPath(workingFolder, "Pavo.ini");
    std::string passphrase;
    bool tooLong = false;
    if (!readLine(in, passphrase, &tooLong)) {
        std::fprintf(stderr,
                     tooLong ? "pavo: the passphrase is longer than %zu bytes\n"
                             : "pavo: no passphrase line on standard input\n",
                     kMaxLine);
        OPENSSL_cleanse(passphrase.data(), passphrase.size());
        return 1;
    }
    const std::string party = plat::IniFile(iniPath).getString("SYSTEM", "PARTY", "");
    const PartyKeyStore store(iniPath, workingFolder);
    std::string error;
    if (passphrase.empty()) {
        if (!store.store(std::nullopt, party, &error)) {
            std::fprintf(stderr, "pavo: the party key could not be removed: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "pavo: party key removed; TCP connections are plain\n");
        return 0;
    }
    if (party.empty()) {
        std::fprintf(stderr, "pavo: %s has no party name; set it first\n", iniPath.c_str());
        OPENSSL_cleanse(passphrase.data(), passphrase.size());
        return 1;
    }
    const auto key = plat::derivePartyKey(passphrase, party);
    OPENSSL_cleanse(passphrase.data(), passphrase.size());
    if (!key) {
        std::fprintf(stderr, "pavo: the party key could not be derived\n");
        return 1;
    }
    if (!store.store(*key, party, &error)) {
        std::fprintf(stderr, "pavo: the party key could not be stored: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "pavo: party key set for party \"%s\"; a running node uses it from its "
                 "next start\n",
                 party.c_str());
    return 0;
}
