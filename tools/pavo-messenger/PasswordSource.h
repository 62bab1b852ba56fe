#pragma once

#include <functional>
#include <string>

// Where the account's password comes from: a file only its owner can read (refused otherwise,
// as ssh refuses a private key others can read), or the desktop's secret service.
namespace PasswordSource {

inline constexpr const char* KeyringService = "pavo-messenger";

// The first line of the file. False with the reason when the file is not a regular file of
// this user with mode 0600 (or stricter), cannot be read, or holds no password.
bool readFile(const std::string& path, std::string& password, std::string& error);

// Asks the secret service for the password stored for jid; done is called on a later turn of
// the event loop with the password, or with ok false and the reason.
void readKeyring(
    const std::string& jid,
    std::function<void(bool ok, const std::string& password, const std::string& error)> done);

// Stores the password for jid in the secret service, waiting for the answer.
bool storeKeyring(const std::string& jid, const std::string& password, std::string& error);

} // namespace PasswordSource
