#pragma once

#include "app/CatalogFileRules.h"
#include "wire/CatalogRecord.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CCatalog;
class CPropatyHotLine;

// What the user does with the catalog list: drop files on it (each becomes a copy of the file,
// or a shortcut to it, in the send folder, where the folder watch registers it), take a received
// file out, and delete a registration network-wide or at this node only. Every refusal is a
// message box and leaves the folders and the catalog unchanged.
//
// Take-out and deletion act on the registration the chosen row shows (origin node, file name,
// registration time), never on a position in the catalog: the list lags the catalog by up to a
// refresh, and a purge may renumber the entries while a question is open. The registration is
// looked up again after every question, and the questions name the file.
class CatalogFileOps
{
public:
    struct CopyResult
    {
        bool ok = false;
        // Why it failed, for the user; empty when the user cancelled it.
        std::string failure;
    };

    // What the operations ask of the main window.
    class Ui
    {
    public:
        virtual ~Ui() = default;
        virtual std::optional<int> selectedRow() = 0;
        // The catalog entry the row shows (as of the list's last refresh); none when the row
        // shows none.
        virtual std::optional<CatalogRecord> rowEntry(int row) = 0;
        virtual void bringToFront() = 0;
        // The registration method dialog: 0 shortcut, 1 copy; nullopt on cancel.
        virtual std::optional<int> chooseMethod() = 0;
        // The save-as dialog proposing proposedName; nullopt on cancel.
        virtual std::optional<std::string> chooseSavePath(const std::string& proposedName) = 0;
        // The shell copy with its progress display.
        virtual CopyResult copyFile(const std::string& from, const std::string& to) = 0;
        // A line in the main window's status line.
        virtual void notice(const std::string& /*text*/) {}
    };

    // The catalog operations used.
    class Catalog
    {
    public:
        virtual ~Catalog() = default;
        // The entry of the registration that shown names (origin node, file name, registration
        // time); none when it has gone.
        virtual std::optional<CatalogRecord> findRegistration(const CatalogRecord& shown) = 0;
        virtual void deleteEverywhere(const CatalogRecord& record) = 0;
        virtual void deleteHere(const CatalogRecord& record) = 0;
        // Where this node holds the record's contents; empty when it names no safe path.
        virtual std::string contentPath(const CatalogRecord& record) = 0;
    };
    // The node's catalog, as source hands it out: after the node's shutdown (nullptr) nothing is
    // found or changed.
    class NodeCatalog : public Catalog
    {
    public:
        explicit NodeCatalog(std::function<CCatalog*()> source) : m_source(std::move(source)) {}
        std::optional<CatalogRecord> findRegistration(const CatalogRecord& shown) override;
        void deleteEverywhere(const CatalogRecord& record) override;
        void deleteHere(const CatalogRecord& record) override;
        std::string contentPath(const CatalogRecord& record) override;

    private:
        std::function<CCatalog*()> m_source;
    };

    CatalogFileOps(Ui& ui, Catalog& catalog, CPropatyHotLine& settings);

    void drop(const std::vector<std::string>& paths);
    void takeOut();
    void deleteRegistration();

    // The shortcut name a dropped file gets in the send folder.
    static std::string shortcutName(const std::string& fileName);

private:
    using Check = CatalogFileRules::Check;

    void dropOne(const std::string& path);
    void dropMany(const std::vector<std::string>& paths);
    void copyIntoSend(const std::string& path);
    // Names CP932 cannot write: the characters are named and a copy under a name that replaces
    // them is offered; a yes registers it as any copy is registered.
    void offerRenamedCopies(const std::vector<std::string>& paths);
    void copyIntoSend(const std::string& path, const std::string& name);
    void shortcutIntoSend(const std::string& path);
    bool isOwn(const CatalogRecord& record);
    // The entry the selected row shows; refused with a message when there is none.
    std::optional<CatalogRecord> selectedEntry();
    // That registration as the catalog holds it now; refused with a message naming the file when
    // it has gone (deleted, purged or registered again since the list showed it).
    std::optional<CatalogRecord> stillRegistered(const CatalogRecord& shown);
    bool yesFor(const char* question, const CatalogRecord& shown);
    // Copies the received file of entry to target; a message naming the file when it fails.
    void copyOut(const CatalogRecord& entry, const std::string& target);
    void reportTakeOutFailure(const CatalogRecord& entry, const std::string& reason);

    Ui& m_ui;
    Catalog& m_catalog;
    CPropatyHotLine& m_settings;
};
