#include "catalog/DiskFloor.h"

#include "platform/Diag.h"

#include <algorithm>
#include <sys/statvfs.h>

namespace {

const char* const kDiskFullText =
    "受信フォルダのディスクの空き容量が少ないため、ファイルの受信を止めています";

} // namespace

std::uint64_t DiskFloor::floorFor(std::uint64_t total)
{
    return std::min(kMaxFloor, total / 20);
}

std::optional<DiskFloor::Space> DiskFloor::statFolder(const std::string& folder)
{
    struct statvfs sv = {};
    if (::statvfs(folder.c_str(), &sv) != 0) {
        const std::size_t slash = folder.find_last_of('/');
        const std::string parent = slash == std::string::npos || slash == 0
                                       ? std::string(slash == 0 ? "/" : ".")
                                       : folder.substr(0, slash);
        if (::statvfs(parent.c_str(), &sv) != 0)
            return std::nullopt;
    }
    Space s;
    s.available = std::uint64_t(sv.f_bavail) * sv.f_frsize;
    s.total = std::uint64_t(sv.f_blocks) * sv.f_frsize;
    return s;
}

DiskFloor::DiskFloor(std::string folder, Probe probe)
    : m_folder(std::move(folder)), m_probe(probe ? std::move(probe) : Probe(&statFolder))
{
}

void DiskFloor::setProbe(Probe probe)
{
    m_probe = probe ? std::move(probe) : Probe(&statFolder);
}

bool DiskFloor::roomFor(std::uint64_t bytes)
{
    const std::optional<Space> space = m_probe(m_folder);
    if (!space)
        return true;
    const std::uint64_t floor = floorFor(space->total);
    // Said again only after the space has clearly come back, not each time a smaller file
    // happens to fit.
    if (space->available >= 2 * floor)
        m_said = false;
    if (space->available >= floor && space->available - floor >= bytes)
        return true;
    if (!m_said) {
        m_said = true;
        plat::diag("DiskFloor: %llu bytes free on %s, floor %llu: downloads stop\n",
                   static_cast<unsigned long long>(space->available), m_folder.c_str(),
                   static_cast<unsigned long long>(floor));
        if (m_notice)
            m_notice(kDiskFullText);
    }
    return false;
}
