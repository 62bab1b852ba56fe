#pragma once

#include "platform/FindRecord.h"
#include "wire/CatalogRecord.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>

// Builds the records that register this node's own files: new, changed and gone files of the
// send folder, described by their find record (a shortcut's by its target's).
namespace catalog {

// The wall clock as the builders need it: Unix seconds for the expiry arithmetic, and the
// milliseconds of the registration time.
struct WallClock
{
    std::time_t seconds = 0;
    int milliseconds = 0;
};
using WallClockSource = std::function<WallClock()>;

// Who registers, and when. Names are UTF-8, as the settings hold them.
struct RegistrationContext
{
    std::string nodeName;
    std::string partyName;
    int limitDay = 3;
    WallClock now;
};

// A record of kind 1 (new), 3 (changed) or 2 (deleted) for the described file, with link flag 0
// (the caller sets it for a shortcut). Empty, with a diagnostic line, when the file cannot be
// registered soundly: a name that is not a safe path component, node or party names that CP932
// cannot hold or that are empty, or (new and changed records) a file of 4 GiB or more, whose
// size the record's 32-bit transfers could not carry. A deletion only names an entry, so its
// size is not checked.
std::optional<CatalogRecord> makeNewRecord(const plat::FindRecord& description,
                                           const RegistrationContext& context);
std::optional<CatalogRecord> makeChangedRecord(const plat::FindRecord& description,
                                               const RegistrationContext& context);
std::optional<CatalogRecord> makeDeletedRecord(const plat::FindRecord& description,
                                               const RegistrationContext& context);

} // namespace catalog
