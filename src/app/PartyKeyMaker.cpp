#include "app/PartyKeyMaker.h"

#include "platform/KeyDerivation.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <zxcvbn.h>

#include <array>

namespace {

constexpr char kAlphabet[] = "0123456789ABCDEFGHJKMNPQRSTVWXYZ";
static_assert(sizeof kAlphabet == 33);

// The value of a code character as typed, or -1.
int codeValue(char c)
{
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    if (c == 'O')
        c = '0';
    else if (c == 'I' || c == 'L')
        c = '1';
    for (int i = 0; i < 32; ++i)
        if (kAlphabet[i] == c)
            return i;
    return -1;
}

PartyKeyMaker::Hint hintOf(ZxcTypeMatch_t type)
{
    using H = PartyKeyMaker::Hint;
    // A part said again ("kx7kx7kx7") is weak for being repeated, whatever the part is.
    if (static_cast<int>(type) & MULTIPLE_MATCH)
        return H::Repeat;
    switch (static_cast<int>(type)) {
    case DICTIONARY_MATCH:
    case DICT_LEET_MATCH:
    case USER_MATCH:
    case USER_LEET_MATCH:
        return H::Word;
    case SPATIAL_MATCH:
        return H::Pattern;
    case SEQUENCE_MATCH:
        return H::Sequence;
    case REPEATS_MATCH:
        return H::Repeat;
    case DATE_MATCH:
    case YEAR_MATCH:
        return H::Date;
    default:
        return H::None;
    }
}

} // namespace

void PartyKeyMaker::wipe(std::string& text)
{
    OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

std::string PartyKeyMaker::newCode()
{
    std::array<unsigned char, (kCodeBits + 7) / 8> random{};
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1)
        return {};
    std::string code;
    for (int i = 0; i < kCodeGroups * kCodeGroupLength; ++i) {
        if (i > 0 && i % kCodeGroupLength == 0)
            code += '-';
        // Five bits at a time, from the first byte on.
        int value = 0;
        for (int bit = i * 5; bit < i * 5 + 5; ++bit)
            value = value << 1 | ((random[static_cast<std::size_t>(bit / 8)] >> (7 - bit % 8)) & 1);
        code += kAlphabet[value];
    }
    OPENSSL_cleanse(random.data(), random.size());
    return code;
}

std::optional<std::string> PartyKeyMaker::canonicalCode(std::string_view text)
{
    std::string code;
    int count = 0;
    for (char c : text) {
        if (c == '-' || c == ' ')
            continue;
        const int value = codeValue(c);
        if (value < 0 || count == kCodeGroups * kCodeGroupLength)
            return std::nullopt;
        if (count > 0 && count % kCodeGroupLength == 0)
            code += '-';
        code += kAlphabet[value];
        ++count;
    }
    if (count != kCodeGroups * kCodeGroupLength)
        return std::nullopt;
    return code;
}

PartyKeyMaker::Rating PartyKeyMaker::rate(std::string_view passphrase,
                                          const std::vector<std::string>& related)
{
    Rating rating;
    if (canonicalCode(passphrase)) {
        rating.madeCode = true;
        rating.bits = kCodeBits;
        return rating;
    }
    std::vector<const char*> dictionary;
    for (const std::string& word : related)
        if (!word.empty())
            dictionary.push_back(word.c_str());
    dictionary.push_back("pavo");
    dictionary.push_back(nullptr);
    std::string text(passphrase);
    ZxcMatch_t* info = nullptr;
    rating.bits = ZxcvbnMatch(text.c_str(), dictionary.data(), &info);
    wipe(text);
    // The longest guessable part names what is weak.
    int longest = 0;
    for (const ZxcMatch_t* m = info; m; m = m->Next) {
        const Hint hint = hintOf(m->Type);
        if (hint != Hint::None && m->Length > longest) {
            longest = m->Length;
            rating.hint = hint;
        }
    }
    ZxcvbnFreeInfo(info);
    if (rating.hint == Hint::None && rating.bits < kMinBits)
        rating.hint = Hint::Short;
    return rating;
}

PartyKeyMaker::Outcome PartyKeyMaker::set(std::string& passphrase, const std::string& party,
                                          const PartyKeyStore& store,
                                          const std::vector<std::string>& related)
{
    Outcome out;
    if (passphrase.empty())
        out.failure = Failure::Empty;
    else if (passphrase.size() > kMaxPassphrase)
        out.failure = Failure::TooLong;
    else if (party.empty())
        out.failure = Failure::NoParty;
    if (!out.ok()) {
        wipe(passphrase);
        return out;
    }
    out.rating = rate(passphrase, related);
    if (!out.rating.strong()) {
        out.failure = Failure::Weak;
        wipe(passphrase);
        return out;
    }
    // A made code is derived in its one spelling, however it was typed.
    std::optional<std::string> code = canonicalCode(passphrase);
    auto key = plat::derivePartyKey(code ? *code : passphrase, party);
    wipe(passphrase);
    if (code)
        wipe(*code);
    if (!key) {
        out.failure = Failure::NotDerived;
        return out;
    }
    if (!store.store(*key, party, &out.detail)) {
        OPENSSL_cleanse(key->data(), key->size());
        out.failure = Failure::NotStored;
        return out;
    }
    out.applied.state = PartyKeyStore::State::Ready;
    out.applied.key = *key;
    OPENSSL_cleanse(key->data(), key->size());
    return out;
}

PartyKeyMaker::Outcome PartyKeyMaker::setNewCode(const std::string& party,
                                                 const PartyKeyStore& store)
{
    std::string code = newCode();
    if (code.empty()) {
        Outcome out;
        out.failure = Failure::NotDerived;
        return out;
    }
    std::string passphrase = code;
    Outcome out = set(passphrase, party, store);
    if (out.ok())
        out.madeCode = code;
    wipe(code);
    return out;
}

PartyKeyMaker::Outcome PartyKeyMaker::remove(const std::string& party, const PartyKeyStore& store)
{
    Outcome out;
    if (!store.store(std::nullopt, party, &out.detail))
        out.failure = Failure::NotStored;
    return out;
}
