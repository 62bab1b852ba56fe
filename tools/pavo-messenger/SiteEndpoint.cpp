#include "SiteEndpoint.h"

#include "skype/ClientWire.h"

#include <QLocalServer>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool makePrivateFolder(const std::string& path, std::string& error)
{
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
    }
    // Only this user may reach the endpoint, whoever made the folder before.
    if (::chmod(path.c_str(), 0700) != 0) {
        error = "cannot restrict " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// A socket file left by an ended client is removed; one that still answers belongs to a client
// that is running, and is not taken from it.
bool clearStaleSocket(const std::string& path, std::string& error)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0)
        return true;
    if (!S_ISSOCK(st.st_mode)) {
        error = path + " exists and is not a socket";
        return false;
    }
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (fd >= 0)
        ::close(fd);
    if (live) {
        error = "another client already serves " + path;
        return false;
    }
    ::unlink(path.c_str());
    return true;
}

} // namespace

std::unique_ptr<QLocalServer> openSiteEndpoint(const std::string& runtimeFolder, std::string& error)
{
    const std::string folder = ClientWire::endpointFolder(runtimeFolder);
    const std::string path = ClientWire::endpointPath(runtimeFolder);
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        error = "endpoint path too long for a socket: " + path;
        return nullptr;
    }
    if (!makePrivateFolder(runtimeFolder, error) || !makePrivateFolder(folder, error) ||
        !clearStaleSocket(path, error))
        return nullptr;
    auto server = std::make_unique<QLocalServer>();
    if (!server->listen(QString::fromStdString(path))) {
        error = "cannot listen on " + path + ": " + server->errorString().toStdString();
        return nullptr;
    }
    return server;
}
