#pragma once

#include <memory>
#include <string>

class QLocalServer;

// Where a user's node programs find this client: a socket in a folder only the user may reach,
// under the user's runtime folder. The socket file an ended client left behind is cleared; one
// that still answers belongs to a running client and is left to it. Null with a message in
// error when the endpoint cannot be opened.
std::unique_ptr<QLocalServer> openSiteEndpoint(const std::string& runtimeFolder,
                                               std::string& error);
