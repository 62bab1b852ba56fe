#include "platform/ProcWriters.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

namespace {

bool allDigits(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s) {
        if (*s < '0' || *s > '9')
            return false;
    }
    return true;
}

// The "flags:" line of fdinfo holds the open flags in octal; -1 when it cannot be read.
long openFlags(const std::string& fdinfoPath)
{
    FILE* f = std::fopen(fdinfoPath.c_str(), "re");
    if (!f)
        return -1;
    long flags = -1;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "flags:", 6) == 0) {
            flags = std::strtol(line + 6, nullptr, 8);
            break;
        }
    }
    std::fclose(f);
    return flags;
}

bool processHasWriter(const std::string& pidDir, dev_t device, ino_t inode)
{
    const std::string fdDir = pidDir + "/fd";
    DIR* dir = ::opendir(fdDir.c_str());
    if (!dir)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(dir)) {
        if (!allDigits(e->d_name))
            continue;
        struct stat st = {};
        // stat follows the magic link to the open file itself, whatever its path is now.
        if (::stat((fdDir + "/" + e->d_name).c_str(), &st) != 0 || st.st_dev != device ||
            st.st_ino != inode)
            continue;
        const long flags = openFlags(pidDir + "/fdinfo/" + e->d_name);
        if (flags >= 0 && ((flags & O_ACCMODE) == O_WRONLY || (flags & O_ACCMODE) == O_RDWR)) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

} // namespace

bool procHasWriter(dev_t device, ino_t inode)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return false;
    bool found = false;
    while (const dirent* e = ::readdir(proc)) {
        if (allDigits(e->d_name) &&
            processHasWriter(std::string("/proc/") + e->d_name, device, inode)) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

} // namespace plat
