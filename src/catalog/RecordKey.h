#pragma once

#include "catalog/CatalogRecord.h"

#include <string>
#include <string_view>

namespace catalog {

// The identity by which the catalog and the pending files look entries up: origin node name and
// file name (CP932, as the record holds them), joined by a zero byte that neither can contain.
inline std::string recordKey(std::string_view originCp932, std::string_view fileNameCp932)
{
    std::string key;
    key.reserve(originCp932.size() + 1 + fileNameCp932.size());
    key.append(originCp932);
    key.push_back('\0');
    key.append(fileNameCp932);
    return key;
}

inline std::string recordKey(const CatalogRecord& r)
{
    return recordKey(r.originNodeCp932(), r.fileNameCp932());
}

} // namespace catalog
