#include "watch/CFolderWatch.h"

#include "app/CPropatyHotLine.h"
#include "app/ShellUtil.h"
#include "catalog/CCatalog.h"
#include "platform/AtomicFile.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/OpenCheck.h"
#include "platform/Shortcut.h"
#include "watch/Registration.h"

#include <QCoreApplication>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using watch::DirListRecord;

namespace {
using plat::baseName;

// Attributes of listed entries that are never registered: hidden, system, directory, devices
// (sockets, pipes), temporary, sparse and offline.
constexpr std::uint32_t kSkipAttributes = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x200 | 0x1000;

// A damaged "dirlist.dat" is not read past this size (some 195000 entries).
constexpr std::uint64_t kMaxDirListBytes = 64u << 20;

bool isSymlink(const plat::FindRecord& r)
{
    return (r.attributes() & plat::FindAttr::ReparsePoint) != 0;
}

// A listed entry that the pass takes as a plain file of the folder.
bool isPlainFile(const plat::FolderEntry& e)
{
    return e.result == plat::FindResult::Ok && (e.record.attributes() & kSkipAttributes) == 0 &&
           !isSymlink(e.record);
}

const char* const kTooLongName = "SENDフォルダの「%1」は名前が長すぎるため登録できません。";
const char* const kUnsendableName =
    "SENDフォルダの「%1」は送信できない文字（%2）を含むため登録できません。";

// What the user is told of a file in the send folder whose name cannot be registered.
std::string badNameNotice(const std::string& name)
{
    std::string characters;
    for (const std::string& c : plat::unwritableCharacters(name))
        characters += (characters.empty() ? "" : "、") + c;
    // Translated here: the status line cannot find the text once the names are in it.
    const QString n = QString::fromStdString(name);
    if (characters.empty())
        return QCoreApplication::translate("Pavo", kTooLongName).arg(n).toStdString();
    return QCoreApplication::translate("Pavo", kUnsendableName)
        .arg(n, QString::fromStdString(characters))
        .toStdString();
}

} // namespace

CFolderWatch::CFolderWatch(Catalog& catalog, CPropatyHotLine& settings,
                           catalog::WallClockSource clock)
    : m_catalog(&catalog), m_settings(settings), m_clock(std::move(clock))
{
}

void CFolderWatch::NodeCatalog::addLocal(const CatalogRecord& record)
{
    m_catalog.addLocal(record);
}

void CFolderWatch::NodeCatalog::deleteEverywhere(const CatalogRecord& record)
{
    m_catalog.deleteEverywhere(record);
}

void CFolderWatch::NodeCatalog::updateLocal(const CatalogRecord& record)
{
    m_catalog.updateLocal(record);
}

CFolderWatch::~CFolderWatch() = default;

void CFolderWatch::setFolder(const std::string& folder)
{
    m_folder = folder;
}

std::string CFolderWatch::dirListPath() const
{
    return plat::joinPath(plat::joinPath(m_folder, "PAVO"), "dirlist.dat");
}

void CFolderWatch::load()
{
    if (m_folder.empty())
        return;
    m_known.clear();
    m_rewrite = false;
    plat::makeFolders(plat::joinPath(m_folder, "PAVO"));
    const std::string path = dirListPath();
    // Created when missing, never truncated: what is there is the list of the last run.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
    std::vector<std::uint8_t> bytes;
    if (!plat::readWholeFile(path, bytes, kMaxDirListBytes)) {
        plat::diag("CFolderWatch::load(): %s cannot be read, taken as empty\n", path.c_str());
        return;
    }
    m_known = watch::decodeDirList(bytes);
    if (bytes.size() % watch::DirListLayout::Size != 0) {
        // An interrupted write of an older program: the whole records stand, the torn piece is
        // dropped, and the next pass writes a clean file.
        plat::diag("CFolderWatch::load(): %s ends in a partial record, %zu entries kept\n",
                   path.c_str(), m_known.size());
        m_rewrite = true;
    }
}

void CFolderWatch::scan()
{
    if (m_folder.empty())
        return;
    bool ok = false;
    std::vector<plat::FolderEntry> listing = plat::listFolder(m_folder, &ok);
    if (!ok) {
        // A folder that cannot be listed (gone, unmounted, no permission) says nothing about
        // its files; taking it for empty would withdraw every registration of the node.
        plat::diag("CFolderWatch::scan(): %s cannot be listed\n", m_folder.c_str());
        return;
    }
    // Name order makes every pass see the entries alike, whatever order the file system keeps.
    std::sort(
        listing.begin(), listing.end(),
        [](const plat::FolderEntry& a, const plat::FolderEntry& b) { return a.name < b.name; });
    m_context.reset();
    m_refusedNow.clear();

    listFolder(listing);
    Reports reports;
    findGone(reports);
    for (FolderScanEntry& entry : m_scan) {
        const DirListRecord* known = findKnown(entry.record.find.nameCp932());
        // A remembered empty file was never registered: once it has content it is new.
        if (known && known->find.size() != 0)
            checkKnown(entry, *known, reports);
        else
            checkNew(entry, reports);
    }
    handOver(reports);
    remember(reports.any());
    m_scan.clear();
    m_refused.swap(m_refusedNow);
}

void CFolderWatch::listFolder(const std::vector<plat::FolderEntry>& listing)
{
    std::set<std::string> targets;
    for (const plat::FolderEntry& e : listing) {
        if (e.result == plat::FindResult::BadName) {
            refuse(e.name, "its name cannot be written in CP932", badNameNotice(e.name));
            continue;
        }
        if (e.result != plat::FindResult::Ok || (e.record.attributes() & kSkipAttributes) != 0)
            continue;
        if (!catalog::isSafeRecordName(e.record.nameCp932())) {
            refuse(e.name, "its name cannot name a file on other nodes");
            continue;
        }
        if (isSymlink(e.record)) {
            if (plat::isShortcutName(e.name))
                addShortcut(e, listing, targets);
            else
                refuse(e.name, "a symbolic link not named \"*.lnk\" is no shortcut");
            continue;
        }
        FolderScanEntry entry{plat::joinPath(m_folder, e.name), {0, e.record}, true};
        if (!takenByEarlierEntry(entry.record))
            m_scan.push_back(std::move(entry));
    }
}

void CFolderWatch::addShortcut(const plat::FolderEntry& entry,
                               const std::vector<plat::FolderEntry>& listing,
                               std::set<std::string>& targets)
{
    const std::string linkPath = plat::joinPath(m_folder, entry.name);
    std::string target;
    plat::FindRecord description;
    if (!GetTargetFile(linkPath, description, target))
        return; // dangling or undescribable: looked at again in the next pass
    const std::string targetName(baseName(target));
    const bool fileInFolder =
        std::any_of(listing.begin(), listing.end(), [&](const plat::FolderEntry& other) {
            return other.name == targetName && &other != &entry && isPlainFile(other);
        });
    // The file itself (or one of its name) is registered as a plain file, and a target already
    // reached through an earlier shortcut is registered through that one.
    if (fileInFolder || !targets.insert(target).second) {
        plat::diag("CFolderWatch: %s duplicates a registration, deleted\n", linkPath.c_str());
        plat::removeFile(linkPath);
        return;
    }
    if ((description.attributes() & kSkipAttributes) != 0) {
        refuse(entry.name, "its target is not an ordinary file");
        return;
    }
    if (!catalog::isSafeRecordName(description.nameCp932())) {
        refuse(entry.name, "its target's name cannot name a file on other nodes");
        return;
    }
    FolderScanEntry scanEntry{target, {1, description}, true};
    if (!takenByEarlierEntry(scanEntry.record))
        m_scan.push_back(std::move(scanEntry));
}

bool CFolderWatch::takenByEarlierEntry(const DirListRecord& record)
{
    // Entries are known by their file name alone: two different files of one name (through
    // shortcuts to different folders) would become two registrations the catalog cannot tell
    // apart. The later one waits until the name is free.
    const std::string name = record.find.nameCp932();
    const bool taken = std::any_of(m_scan.begin(), m_scan.end(), [&](const FolderScanEntry& e) {
        return e.record.find.nameCp932() == name;
    });
    if (taken)
        refuse(record.find.nameUtf8(), "another entry registers that name");
    return taken;
}

void CFolderWatch::findGone(Reports& reports)
{
    for (const DirListRecord& known : m_known) {
        const std::string name = known.find.nameCp932();
        const bool listed =
            std::any_of(m_scan.begin(), m_scan.end(), [&](const FolderScanEntry& e) {
                return e.record.find.nameCp932() == name;
            });
        if (!listed)
            report(Build::Deleted, known, reports.gone);
    }
}

void CFolderWatch::checkNew(FolderScanEntry& entry, Reports& reports)
{
    // Held open for writing (still being copied in) or gone again: tried as new next pass.
    if (plat::probeOpenForWriting(entry.path) != plat::OpenState::Free) {
        entry.remember = false;
        return;
    }
    // The listing may predate the last write; the file is complete now.
    plat::FindRecord current;
    if (plat::statFindRecord(entry.path, current, true) == plat::FindResult::Ok)
        entry.record.find = current;
    // An empty file is remembered but not registered.
    if (entry.record.find.size() == 0)
        return;
    if (tooLarge(entry.record)) {
        entry.remember = false;
        return;
    }
    const std::size_t before = reports.added.size();
    report(Build::New, entry.record, reports.added);
    if (reports.added.size() == before)
        entry.remember = false;
}

void CFolderWatch::checkKnown(FolderScanEntry& entry, const DirListRecord& known, Reports& reports)
{
    switch (plat::probeOpenForWriting(entry.path)) {
    case plat::OpenState::Free:
        break;
    case plat::OpenState::Missing:
        // A shortcut's target removed since the listing.
        report(Build::Deleted, known, reports.gone);
        entry.remember = false;
        return;
    case plat::OpenState::WriterActive:
        // Still being written: keep the remembered description, so the write that is going on
        // is seen as a change once it is over.
        entry.record = known;
        return;
    }
    plat::FindRecord current;
    if (plat::statFindRecord(entry.path, current, true) == plat::FindResult::Ok)
        entry.record.find = current;
    // Emptied: an empty file is not registered, so its registration goes. It is remembered
    // empty, and registered anew when it has content again.
    if (entry.record.find.size() == 0) {
        report(Build::Deleted, known, reports.gone);
        return;
    }
    if (entry.record.find.lastWriteTime() <= known.find.lastWriteTime())
        return;
    if (tooLarge(entry.record)) {
        entry.record = known;
        return;
    }
    const std::size_t before = reports.changed.size();
    report(Build::Changed, entry.record, reports.changed);
    // Not describable now (grown to 4 GiB): the registration stays as it was, and the change is
    // tried again next pass.
    if (reports.changed.size() == before)
        entry.record = known;
}

void CFolderWatch::report(Build kind, const DirListRecord& record, std::vector<CatalogRecord>& to)
{
    if (!m_context)
        m_context = catalog::registrationFrom(m_settings, m_clock);
    std::optional<CatalogRecord> built;
    switch (kind) {
    case Build::New:
        built = catalog::makeNewRecord(record.find, *m_context);
        break;
    case Build::Changed:
        built = catalog::makeChangedRecord(record.find, *m_context);
        break;
    case Build::Deleted:
        built = catalog::makeDeletedRecord(record.find, *m_context);
        break;
    }
    if (!built)
        return;
    built->setLinkFlag(record.linkFlag);
    to.push_back(*built);
}

void CFolderWatch::handOver(const Reports& reports)
{
    for (const CatalogRecord& r : reports.added)
        m_catalog->addLocal(r);
    for (const CatalogRecord& r : reports.gone)
        m_catalog->deleteEverywhere(r);
    for (const CatalogRecord& r : reports.changed)
        m_catalog->updateLocal(r);
}

void CFolderWatch::remember(bool changed)
{
    m_known.clear();
    for (const FolderScanEntry& e : m_scan)
        if (e.remember)
            m_known.push_back(e.record);
    if (changed || m_rewrite)
        writeDirList();
}

void CFolderWatch::writeDirList()
{
    plat::makeFolders(plat::joinPath(m_folder, "PAVO"));
    const std::vector<std::uint8_t> bytes = watch::encodeDirList(m_known);
    // Written whole under a temporary name: a crash leaves the old list or the new one. A
    // failed write is tried again next pass, since an outdated list would report old entries as
    // new at the next start.
    const std::string path = dirListPath();
    m_rewrite = !plat::AtomicFile::save(path, bytes.data(), bytes.size());
    if (m_rewrite)
        plat::diag("CFolderWatch: %s cannot be written (%s)\n", path.c_str(), std::strerror(errno));
}

bool CFolderWatch::tooLarge(const DirListRecord& record)
{
    // Records carry 32-bit sizes; the builders would refuse it anyway, this only keeps the
    // diagnostic to one line while the file stays as it is.
    if (record.find.sizeHigh() == 0)
        return false;
    refuse(record.find.nameUtf8(), "4 GiB or larger");
    return true;
}

const DirListRecord* CFolderWatch::findKnown(const std::string& nameCp932) const
{
    for (const DirListRecord& k : m_known)
        if (k.find.nameCp932() == nameCp932)
            return &k;
    return nullptr;
}

bool CFolderWatch::refuse(const std::string& name, const char* why, const std::string& notice)
{
    if (!m_refusedNow.insert(name).second || m_refused.count(name) != 0)
        return false;
    plat::diag("CFolderWatch: \"%s\" is not registered: %s\n", name.c_str(), why);
    if (!notice.empty() && m_notice)
        m_notice(notice);
    return true;
}
