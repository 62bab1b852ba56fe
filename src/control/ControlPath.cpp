#include "control/ControlPath.h"

#include "platform/NamedLock.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ControlPath {

namespace {
std::string folderOf(const std::string& runtime)
{
    return runtime + "/pavo";
}
} // namespace

std::string socketPath(std::string* why)
{
    const std::string runtime = plat::NamedLock::runtimeFolder(why);
    return runtime.empty() ? std::string() : folderOf(runtime) + "/control.sock";
}

std::string preparedSocketPath(std::string* why)
{
    const std::string path = socketPath(why);
    if (path.empty())
        return {};
    const std::string folder = path.substr(0, path.rfind('/'));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *why = folder + ": " + std::strerror(errno);
        return {};
    }
    struct stat st = {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        *why = folder + " is not a folder of this user";
        return {};
    }
    // Closed to everybody else, whatever it was made with.
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        *why = folder + ": " + std::strerror(errno);
        return {};
    }
    return path;
}

} // namespace ControlPath
