#pragma once

#include "platform/FindRecord.h"
#include "watch/DirListRecord.h"
#include "wire/CatalogRecord.h"
#include "wire/RecordBuilder.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CCatalog;
class CPropatyHotLine;

// Keeps the catalog in step with the plain files and the shortcuts (symbolic links named
// "*.lnk") at the top level of the send folder. Each pass lists the folder, compares it with the
// list remembered in "PAVO/dirlist.dat", and registers new files, registers changed files again
// and withdraws the registrations of files that have gone. It also tidies the folder: a shortcut
// to a file of a name the folder already holds, or a second shortcut to one target, is deleted.
//
// No thread and no timer of its own: the main window calls scan() from its timer.
class CFolderWatch
{
public:
    // The catalog operations a pass ends in.
    class Catalog
    {
    public:
        virtual ~Catalog() = default;
        virtual void addLocal(const CatalogRecord& record) = 0;
        virtual void deleteEverywhere(const CatalogRecord& record) = 0;
        virtual void updateLocal(const CatalogRecord& record) = 0;
    };

    // The node's catalog itself (which outlives the watch).
    class NodeCatalog : public Catalog
    {
    public:
        explicit NodeCatalog(CCatalog& catalog) : m_catalog(catalog) {}
        void addLocal(const CatalogRecord& record) override;
        void deleteEverywhere(const CatalogRecord& record) override;
        void updateLocal(const CatalogRecord& record) override;

    private:
        CCatalog& m_catalog;
    };

    // Registrations go to catalog, named after settings' node and party; tests hand in a clock.
    CFolderWatch(Catalog& catalog, CPropatyHotLine& settings, catalog::WallClockSource clock = {});
    virtual ~CFolderWatch();
    CFolderWatch(const CFolderWatch&) = delete;
    CFolderWatch& operator=(const CFolderWatch&) = delete;

    void setFolder(const std::string& folder);
    const std::string& folder() const { return m_folder; }
    // folder + "/PAVO/dirlist.dat".
    std::string dirListPath() const;

    // Known entries := the records of "dirlist.dat" (created empty when missing). Nothing happens
    // while no folder is set.
    void load();
    // One pass over the folder.
    void scan();

    // Where a file the user placed but that cannot be registered is said, once while it stays
    // (the main window's status line): a name CP932 cannot write, or one too long for a record.
    void setNotice(std::function<void(const std::string&)> notice) { m_notice = std::move(notice); }

    // The folder's content as of the last pass.
    const std::vector<watch::DirListRecord>& knownEntries() const { return m_known; }

private:
    struct FolderScanEntry
    {
        std::string path; // the file in the folder, or a shortcut's target
        watch::DirListRecord record;
        bool remember = true; // false: looked at again as new in the next pass
    };
    // The records a pass hands to the catalog, in the order it hands them over.
    struct Reports
    {
        std::vector<CatalogRecord> added;
        std::vector<CatalogRecord> gone;
        std::vector<CatalogRecord> changed;
        bool any() const { return !added.empty() || !gone.empty() || !changed.empty(); }
    };
    enum class Build
    {
        New,
        Changed,
        Deleted
    };

    void listFolder(const std::vector<plat::FolderEntry>& listing);
    void addShortcut(const plat::FolderEntry& entry, const std::vector<plat::FolderEntry>& listing,
                     std::set<std::string>& targets);
    bool takenByEarlierEntry(const watch::DirListRecord& record);
    bool tooLarge(const watch::DirListRecord& record);
    void findGone(Reports& reports);
    void checkNew(FolderScanEntry& entry, Reports& reports);
    void checkKnown(FolderScanEntry& entry, const watch::DirListRecord& known, Reports& reports);
    void report(Build kind, const watch::DirListRecord& record, std::vector<CatalogRecord>& to);
    void handOver(const Reports& reports);
    void remember(bool changed);
    void writeDirList();
    const watch::DirListRecord* findKnown(const std::string& nameCp932) const;
    // A diagnostic line for name, once while it keeps being refused pass after pass; with a
    // notice for the user, that too. True the first time.
    bool refuse(const std::string& name, const char* why, const std::string& notice = {});

    Catalog* m_catalog;
    CPropatyHotLine& m_settings;
    catalog::WallClockSource m_clock;
    std::string m_folder;
    std::vector<watch::DirListRecord> m_known;
    std::vector<FolderScanEntry> m_scan;
    std::optional<catalog::RegistrationContext> m_context; // built once per pass, when needed
    // "dirlist.dat" needs writing although nothing changed: it had a torn tail when loaded, or
    // the last write failed.
    bool m_rewrite = false;
    std::set<std::string> m_refused;    // names refused in the last pass
    std::set<std::string> m_refusedNow; // names refused in this pass
    std::function<void(const std::string&)> m_notice;
};
