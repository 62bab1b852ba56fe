#pragma once

#include <cstdint>
#include <string_view>

class ClientSession;
class Site;

// Reads one client command and carries it out. The result is what the client answers the
// program: 0 for a text that is no command of the client (unknown, malformed, trailing words),
// which changes nothing; 1 for a command taken. A command taken but refused (no such stream,
// not a contact, ...) answers 1 with an "ERROR" notification, as a desktop client does: a 0
// would make the program think the client itself is gone.
namespace CommandRunner {

std::uint32_t run(Site& site, ClientSession& session, std::string_view text);

} // namespace CommandRunner
