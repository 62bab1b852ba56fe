#pragma once

#include "catalog/CatalogRecord.h"

#include <optional>
#include <string>
#include <vector>

class CPropatyHotLine;

// What the user does with the catalog list: drop files on it (each becomes a copy of the file,
// or a shortcut to it, in the send folder, where the folder watch registers it), take a received
// file out, and delete a registration network-wide or at this node only. Every refusal is a
// message box and leaves the folders and the catalog unchanged.
class CatalogFileOps
{
public:
    // What the operations ask of the main window.
    class Ui
    {
    public:
        virtual ~Ui() = default;
        virtual std::optional<int> selectedRow() = 0;
        // Column 0 (the file name) of a row.
        virtual std::string fileNameCell(int row) = 0;
        virtual void bringToFront() = 0;
        // The registration method dialog: 0 shortcut, 1 copy; nullopt on cancel.
        virtual std::optional<int> chooseMethod() = 0;
        // The save-as dialog proposing proposedName; nullopt on cancel.
        virtual std::optional<std::string> chooseSavePath(const std::string& proposedName) = 0;
        // The shell copy with its progress display; false when it failed or was cancelled.
        virtual bool copyFile(const std::string& from, const std::string& to) = 0;
        // A line in the main window's status line.
        virtual void notice(const std::string& /*text*/) {}
    };

    // The catalog operations used; the default forwards to the process-wide catalog.
    class Catalog
    {
    public:
        virtual ~Catalog() = default;
        virtual CatalogRecord getRecord(int index) = 0;
        virtual void deleteEverywhere(const CatalogRecord& record) = 0;
        virtual void deleteHere(const CatalogRecord& record) = 0;
        // Where this node holds the record's contents; empty when it names no safe path.
        virtual std::string contentPath(const CatalogRecord& record) = 0;
    };
    static Catalog& processCatalog();

    CatalogFileOps(Ui& ui, Catalog& catalog, CPropatyHotLine& settings);

    void drop(const std::vector<std::string>& paths);
    void takeOut();
    void deleteRegistration();

    // The shortcut name a dropped file gets in the send folder.
    static std::string shortcutName(const std::string& fileName);

private:
    enum class Check
    {
        Ok,
        NoStatus,
        BadKind,
        Empty,
        BadName, // a plain file whose name the records cannot hold
    };

    static Check checkDropped(const std::string& path);
    void dropOne(const std::string& path);
    void dropMany(const std::vector<std::string>& paths);
    void copyIntoSend(const std::string& path);
    // Names CP932 cannot write: the characters are named and a copy under a name that replaces
    // them is offered; a yes registers it as any copy is registered.
    void offerRenamedCopies(const std::vector<std::string>& paths);
    void copyIntoSend(const std::string& path, const std::string& name);
    void shortcutIntoSend(const std::string& path);
    bool isOwn(const CatalogRecord& record);

    Ui& m_ui;
    Catalog& m_catalog;
    CPropatyHotLine& m_settings;
};
