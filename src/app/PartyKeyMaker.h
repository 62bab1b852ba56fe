#pragma once

#include "app/PartyKeyStore.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one place where a party key is made and stored, for "pavo --set-party-key", "pavo
// --new-party-key" and the system properties dialog alike. A key comes either from a made code
// (random, 140 bits, shown as seven groups of four characters a friend can type or paste) or
// from a typed passphrase that is rated first: anyone who records one handshake can try
// passphrases offline at one derivation each, so one below kMinBits is refused. Keys set before
// this rating existed stay as they are stored. Every copy of a passphrase or key made here is
// wiped after use.
class PartyKeyMaker
{
public:
    using Key = PartyKeyStore::Key;

    // The longest passphrase, in bytes of UTF-8, wherever one is typed.
    static constexpr std::size_t kMaxPassphrase = 1024;
    // The least estimated strength of a typed passphrase, in bits.
    static constexpr double kMinBits = 60;
    // A made code: groups of base-32 characters (digits and letters without I, L, O, U).
    static constexpr int kCodeGroups = 7;
    static constexpr int kCodeGroupLength = 4;
    static constexpr int kCodeBits = kCodeGroups * kCodeGroupLength * 5;
    static_assert(kCodeBits >= 128);

    // What makes a passphrase easy to guess, as far as the rating tells.
    enum class Hint
    {
        None,
        Short,    // too few characters for its kind
        Word,     // a common word or name
        Pattern,  // keys next to each other on the keyboard
        Sequence, // "abcd", "1234"
        Repeat,   // the same characters again
        Date,     // a date or a year
    };

    enum class Failure
    {
        None,
        Empty,
        TooLong,
        Weak,
        NoParty,
        NotDerived,
        NotStored,
    };

    struct Rating
    {
        double bits = 0;
        Hint hint = Hint::None;
        bool madeCode = false;
        bool strong() const { return madeCode || bits >= kMinBits; }
    };

    struct Outcome
    {
        Failure failure = Failure::None;
        Rating rating;                 // with Weak
        std::string detail;            // with NotStored: why
        std::string madeCode;          // with a made code: the code to pass on
        PartyKeyStore::Loaded applied; // on success: what the node uses from now on
        bool ok() const { return failure == Failure::None; }
    };

    // A new random code; empty when the system has no randomness to give.
    static std::string newCode();
    // The code's one spelling when text is a made code (any case, with or without separators,
    // O for 0 and I or L for 1), so that every node derives the same key from it.
    static std::optional<std::string> canonicalCode(std::string_view text);
    // How hard the passphrase is to guess; related names (the party, the node) count as known.
    static Rating rate(std::string_view passphrase, const std::vector<std::string>& related = {});

    // Checks the passphrase (rate), derives the key for the party and stores it in store. The
    // passphrase is wiped whatever the outcome.
    static Outcome set(std::string& passphrase, const std::string& party,
                       const PartyKeyStore& store, const std::vector<std::string>& related = {});
    // Makes a new code and sets the key it gives; the code is in the outcome.
    static Outcome setNewCode(const std::string& party, const PartyKeyStore& store);
    // Removes the key: TCP is plain again.
    static Outcome remove(const std::string& party, const PartyKeyStore& store);

    // Overwrites the text's bytes before it is cleared.
    static void wipe(std::string& text);
};
