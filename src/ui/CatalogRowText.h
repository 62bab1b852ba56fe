#pragma once

#include "wire/CatalogRecord.h"

#include <array>
#include <string>

// The texts of one catalog list row, built from a record. Text is UTF-8.
namespace ui {

constexpr int kCatalogColumns = 7;

namespace CatalogColumn {
constexpr int FileName = 0;
constexpr int Sender = 1;
constexpr int Registered = 2;
constexpr int Expires = 3;
constexpr int Status = 4;
constexpr int Size = 5;
constexpr int Spare = 6;
} // namespace CatalogColumn

// "%4d/%2d/%2d %02d:%02d:%02d:%03d" of the registration time.
std::string registrationText(const plat::SystemTime& t);
// "%4d/%2d/%2d" of the expiry date.
std::string expiryText(const plat::SystemTime& t);

// True when the record's origin node is the node named ownNode (UTF-8, as the settings hold it).
bool isOwnRecord(const CatalogRecord& r, const std::string& ownNode);

// The status column: deleted, obtained, own, over 2 GB, the percentage received, or damaged.
std::string statusText(const CatalogRecord& r, const std::string& ownNode);
// The size column: the low 32 bits of the size with thousands separators, or "2G超".
std::string sizeText(const CatalogRecord& r);
// "1234567" → "1,234,567".
std::string groupThousands(unsigned long value);

std::array<std::string, kCatalogColumns> rowTexts(const CatalogRecord& r,
                                                  const std::string& ownNode);

// Management files (node information) end in ".nod"; they are drawn grey and cannot be taken
// out or deleted in the ordinary way.
bool isManagementFileName(const std::string& fileName);

} // namespace ui
