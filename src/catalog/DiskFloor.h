#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Keeps downloads from filling the disk that holds the receive folder: a file is fetched only
// while its remaining bytes leave at least floorFor(total) free. When downloads stop for want of
// space the status line says so once; it may say so again after space has come back and run out
// anew.
class DiskFloor
{
public:
    struct Space
    {
        std::uint64_t available = 0; // bytes an unprivileged writer may still use
        std::uint64_t total = 0;
    };
    // Free and total space of the file system that holds folder; none when unknown.
    using Probe = std::function<std::optional<Space>(const std::string& folder)>;

    static constexpr std::uint64_t kMaxFloor = std::uint64_t(1) << 30; // 1 GiB
    // min(1 GiB, 5 % of the file system): small disks keep a proportionate reserve.
    static std::uint64_t floorFor(std::uint64_t total);
    // statvfs on folder, or on its parent while folder does not exist yet.
    static std::optional<Space> statFolder(const std::string& folder);

    explicit DiskFloor(std::string folder, Probe probe = {});

    void setProbe(Probe probe);
    // Where the stop is said (the node's status line); unset: only the diagnostic output.
    void setNotice(std::function<void(const std::string&)> notice) { m_notice = std::move(notice); }
    // True when bytes more can be written and the free space stays at or above the floor. An
    // unknown free space does not stop downloads (the write itself then fails or not).
    bool roomFor(std::uint64_t bytes);

private:
    std::string m_folder;
    Probe m_probe;
    std::function<void(const std::string&)> m_notice;
    bool m_said = false;
};
