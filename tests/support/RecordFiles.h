#pragma once

#include "wire/CatalogRecord.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Catalog and pending files as the catalog tests see them: raw bytes and whole records.
namespace recordfiles {

std::vector<std::uint8_t> readFile(const std::string& path);
// Replaces the file's content.
void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes);

std::vector<std::uint8_t> recordsBytes(const std::vector<CatalogRecord>& records);
// Record i of a file's bytes; the caller makes sure it is whole.
CatalogRecord recordInFile(const std::vector<std::uint8_t>& file, std::size_t i);
// The whole records of the file at path; a torn tail is left out.
std::vector<CatalogRecord> recordsOf(const std::string& path);

// A checksummed record naming file name of origin; mark goes to a reserved byte, so records
// that are otherwise equal still differ. more sets further fields before the checksum.
CatalogRecord markedRecord(const std::string& origin, const std::string& name, std::uint8_t mark,
                           const std::function<void(CatalogRecord&)>& more = {});

} // namespace recordfiles
