#pragma once

#include "wire/CatalogRecord.h"

#include <string>

// What an entry is to this node, as the catalog list, the node windows and the command line
// tell it.
namespace catalog {

// True when the record's origin node is the node named ownNode (UTF-8, as the settings hold it).
bool isOwnRecord(const CatalogRecord& r, const std::string& ownNode);

// Management files (node information) end in ".nod"; they cannot be taken out or deleted in the
// ordinary way.
bool isManagementFileName(const std::string& fileName);

} // namespace catalog
