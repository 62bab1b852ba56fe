#pragma once

#include "wire/CatalogRecord.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// The files behind catalog entries: received files under the receive folder (one sub-folder per
// origin node), own files and shortcuts in the send folder, and the error-record file of the
// catalog folder. Every path built from a record requires isValidRecord() first, so a record
// from a peer can never name anything outside these folders.
//
// Received files are written, read, served and deleted through their origin's folder opened
// with O_DIRECTORY | O_NOFOLLOW and openat/unlinkat with O_NOFOLLOW: a link planted in the
// receive folder (by another local user, or left by anything else) is refused, never followed.
class CatalogFolders
{
public:
    CatalogFolders(std::string catalogFolder, std::string recvFolder, std::string sendFolder);
    ~CatalogFolders();
    CatalogFolders(const CatalogFolders&) = delete;
    CatalogFolders& operator=(const CatalogFolders&) = delete;

    // receive folder / origin / file name; empty for an invalid record.
    std::string receivedPath(const CatalogRecord& record) const;
    // The file that holds the contents: the received file, or for an own entry (own true) the
    // file in the send folder or, with the link flag, the target of the shortcut there whose
    // target has the record's file name. Empty when there is none.
    std::string contentPath(const CatalogRecord& record, bool own);

    // Removes what a purged entry leaves: the received file, the own file, or for an own
    // shortcut the shortcut itself (never its target). An own file or shortcut goes only while
    // it is still the one the entry describes; one saved or made since is left to the folder
    // watch. Failures are ignored.
    void deleteContent(const CatalogRecord& record, bool own);

    // Reads up to size bytes of the record's contents (contentPath) at offset; 0 when the file
    // cannot be read or offset is past its end.
    std::size_t readContent(const CatalogRecord& record, bool own, std::uint32_t offset,
                            std::size_t size, std::uint8_t* out);
    // Writes n bytes at offset into the received file, creating its folder and the file; at
    // offset 0 an older file of that name is deleted first. False when nothing could be written.
    // The file of a download under way stays open between chunks; it is closed when the chunk
    // reaches the record's size, when its content is deleted, or after other downloads.
    bool writeReceived(const CatalogRecord& record, std::uint32_t offset, const std::uint8_t* bytes,
                       std::size_t n) const;

    // Keeps record as the first 820 bytes of "catalogErroRec.err".
    void writeErrorRecord(const CatalogRecord& record) const;
    const std::string& errorRecordPath() const { return m_errorFile; }

    // Shortcuts resolved for serving are remembered until this is called (every purge).
    void forgetShortcuts() { m_shortcuts.clear(); }

private:
    struct OpenReceived
    {
        std::string path;
        int fd = -1;
    };
    static constexpr std::size_t kOpenReceived = 4;
    // The received file kept open for writing between chunks (opened as openReceived does).
    int openForWrite(const CatalogRecord& record) const;
    void closeCached(const std::string& path) const;

    // The origin's folder in the receive folder, opened without following a link (made first
    // when make is true); -1 when it is missing or a link (said in a diagnostic line).
    int openOriginFolder(const CatalogRecord& record, bool make) const;
    // The received file, opened with flags in its origin's folder; neither the folder nor the
    // file may be a link. -1 otherwise.
    int openReceived(const CatalogRecord& record, int flags, bool makeFolder) const;
    // The file at path has the size and last write time of the record's description.
    static bool sameVersion(const CatalogRecord& record, const std::string& path, bool noFollow);
    // The shortcut that the own entry registered, or empty when the one there now is another.
    std::string registeredShortcut(const CatalogRecord& record) const;
    // The shortcut in the send folder whose target has the record's file name; its target goes
    // to *target. Empty when none.
    std::string findShortcut(const CatalogRecord& record, std::string* target) const;

    std::string m_recvFolder;
    std::string m_sendFolder;
    std::string m_errorFile;
    // File name (CP932) -> target path of own shortcuts.
    std::map<std::string, std::string, std::less<>> m_shortcuts;
    // Received files of downloads under way, most recent last.
    mutable std::vector<OpenReceived> m_open;
};
