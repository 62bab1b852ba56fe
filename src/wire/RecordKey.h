#pragma once

#include "wire/CatalogRecord.h"

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

// One registration: recordKey and the registration time (year to millisecond; the day of week
// says nothing more). What the user chose in the catalog list, wherever its row has moved since.
inline std::string registrationKey(const CatalogRecord& r)
{
    std::string key = recordKey(r);
    key.push_back('\0');
    const plat::SystemTime t = r.registrationTime();
    for (std::uint16_t v : {t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds}) {
        key.push_back(static_cast<char>(v & 0xff));
        key.push_back(static_cast<char>(v >> 8));
    }
    return key;
}

} // namespace catalog
