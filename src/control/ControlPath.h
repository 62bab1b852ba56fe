#pragma once

#include <string>

// Where a node's control socket lies: "pavo/control.sock" in the user's runtime folder (the one
// the instance guard uses), a folder of mode 0700 owned by this user, so only this user can
// reach the socket. Several nodes on one machine each have their own runtime folder.
namespace ControlPath {

// The socket's path; empty (the reason in *why) when there is no private runtime folder.
std::string socketPath(std::string* why = nullptr);
// The same, after making sure its folder exists, is this user's and is closed to others (a
// folder that is not is refused, with the reason in *why).
std::string preparedSocketPath(std::string* why);

} // namespace ControlPath
