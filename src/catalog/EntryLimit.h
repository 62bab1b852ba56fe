#pragma once

#include <functional>
#include <string>

// Bounds the catalog against a peer that names files without end: past the limit, new entries
// from peers are refused (known entries are still updated, and the user's own registrations
// always pass). The refusal is said once on the status line; it may be said again after a purge
// has made room and the limit has been reached anew.
class EntryLimit
{
public:
    // Well above the largest catalog a party is expected to hold (100,000 entries make a
    // catalog.dat of 82 MB); 150,000 keep the file under 125 MB and the list's memory alike.
    static constexpr int kMaxEntries = 150000;

    // True when a catalog holding count entries may take one more from a peer.
    bool roomFor(int count);
    void setMax(int max) { m_max = max; }
    // Where the refusal is said (the node's status line); unset: only the diagnostic output.
    void setNotice(std::function<void(const std::string&)> notice) { m_notice = std::move(notice); }

private:
    std::function<void(const std::string&)> m_notice;
    int m_max = kMaxEntries;
    bool m_said = false;
};
