#include "app/PartyKeyCommand.h"

#include "app/PartyKeyMaker.h"
#include "app/PartyKeyStore.h"
#include "platform/Files.h"
#include "platform/IniFile.h"

namespace {

// One line without its end; false when the input ends before any byte or the line is too long.
// The line's room is taken once, so no copy of the passphrase is left behind by a reallocation.
bool readLine(std::FILE* in, std::string& line, bool* tooLong)
{
    line.clear();
    line.reserve(PartyKeyMaker::kMaxPassphrase + 1);
    *tooLong = false;
    int c;
    bool any = false;
    while ((c = std::fgetc(in)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() >= PartyKeyMaker::kMaxPassphrase) {
            *tooLong = true;
            return false;
        }
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

const char* hintText(PartyKeyMaker::Hint hint)
{
    using H = PartyKeyMaker::Hint;
    switch (hint) {
    case H::Word:
        return "it is built on a common word or name";
    case H::Pattern:
        return "it follows the keyboard";
    case H::Sequence:
        return "it holds a sequence such as abcd or 1234";
    case H::Repeat:
        return "it repeats itself";
    case H::Date:
        return "it holds a date or a year";
    case H::Short:
    case H::None:
        break;
    }
    return "it is too short";
}

int report(const PartyKeyMaker::Outcome& out, const std::string& iniPath)
{
    using F = PartyKeyMaker::Failure;
    switch (out.failure) {
    case F::None:
        return 0;
    case F::Empty:
        std::fprintf(stderr, "pavo: no passphrase\n");
        break;
    case F::TooLong:
        std::fprintf(stderr, "pavo: the passphrase is longer than %zu bytes\n",
                     PartyKeyMaker::kMaxPassphrase);
        break;
    case F::Weak:
        std::fprintf(stderr,
                     "pavo: this passphrase is too easy to guess: %s (about %.0f bits; at least "
                     "%.0f are needed, since anyone who records a connection can try passphrases "
                     "offline).\npavo: make a key with 'pavo --new-party-key' and give its code "
                     "to the other members instead\n",
                     hintText(out.rating.hint), out.rating.bits, PartyKeyMaker::kMinBits);
        break;
    case F::NoParty:
        std::fprintf(stderr, "pavo: %s has no party name; set it first\n", iniPath.c_str());
        break;
    case F::NotDerived:
        std::fprintf(stderr, "pavo: the party key could not be made\n");
        break;
    case F::NotStored:
        std::fprintf(stderr, "pavo: the party key could not be stored: %s\n", out.detail.c_str());
        break;
    }
    return 1;
}

} // namespace

int PartyKeyCommand::run(std::FILE* in, const std::string& workingFolder)
{
    const std::string iniPath = plat::joinPath(workingFolder, "Pavo.ini");
    std::string passphrase;
    bool tooLong = false;
    if (!readLine(in, passphrase, &tooLong)) {
        PartyKeyMaker::wipe(passphrase);
        if (tooLong) {
            PartyKeyMaker::Outcome out;
            out.failure = PartyKeyMaker::Failure::TooLong;
            return report(out, iniPath);
        }
        std::fprintf(stderr, "pavo: no passphrase line on standard input\n");
        return 1;
    }
    const plat::IniFile ini(iniPath);
    const std::string party = ini.getString("SYSTEM", "PARTY", "");
    const PartyKeyStore store(iniPath, workingFolder);
    if (passphrase.empty()) {
        const PartyKeyMaker::Outcome out = PartyKeyMaker::remove(party, store);
        if (out.ok())
            std::fprintf(stderr, "pavo: party key removed; TCP connections are plain\n");
        return report(out, iniPath);
    }
    const PartyKeyMaker::Outcome out =
        PartyKeyMaker::set(passphrase, party, store, {party, ini.getString("SYSTEM", "NAME", "")});
    if (out.ok())
        std::fprintf(stderr,
                     "pavo: party key set for party \"%s\"; a running node uses it from its "
                     "next start\n",
                     party.c_str());
    return report(out, iniPath);
}

int PartyKeyCommand::runNew(std::FILE* out, const std::string& workingFolder)
{
    const std::string iniPath = plat::joinPath(workingFolder, "Pavo.ini");
    const std::string party = plat::IniFile(iniPath).getString("SYSTEM", "PARTY", "");
    PartyKeyMaker::Outcome made =
        PartyKeyMaker::setNewCode(party, PartyKeyStore(iniPath, workingFolder));
    if (!made.ok())
        return report(made, iniPath);
    std::fprintf(out, "%s\n", made.madeCode.c_str());
    std::fflush(out);
    PartyKeyMaker::wipe(made.madeCode);
    std::fprintf(stderr,
                 "pavo: new party key set for party \"%s\"; give the code above to the party's "
                 "other members, who set it with 'pavo --set-party-key' or in the system "
                 "properties\n",
                 party.c_str());
    return 0;
}
