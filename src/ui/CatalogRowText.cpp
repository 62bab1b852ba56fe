#include "ui/CatalogRowText.h"

#include "catalog/RecordRoles.h"

#include <cstdio>

namespace ui {

namespace {
const char* const kDeleted = "削除";
const char* const kObtained = "取得済";
const char* const kLinked = "link";
const char* const kOwnCopy = "------";
const char* const kOver2G = "2G超";
const char* const kBadSize = "???";
const char* const kNoData = "データ異常";
} // namespace

std::string registrationText(const plat::SystemTime& t)
{
    char text[64];
    std::snprintf(text, sizeof text, "%4d/%2d/%2d %02d:%02d:%02d:%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds);
    return text;
}

std::string expiryText(const plat::SystemTime& t)
{
    char text[32];
    std::snprintf(text, sizeof text, "%4d/%2d/%2d", t.year, t.month, t.day);
    return text;
}

bool isOwnRecord(const CatalogRecord& r, const std::string& ownNode)
{
    return catalog::isOwnRecord(r, ownNode);
}

std::string statusText(const CatalogRecord& r, const std::string& ownNode)
{
    if (r.kind() == catalog::RecordKind::Deleted)
        return kDeleted;
    if (r.completeFlag() == 1) {
        if (!isOwnRecord(r, ownNode))
            return kObtained;
        return r.linkFlag() == 1 ? kLinked : kOwnCopy;
    }
    if (r.fileDescription().sizeHigh() != 0)
        return kOver2G;
    const std::uint32_t size = r.fileSize();
    if (size == 0)
        return kNoData;
    // A received count beyond the size (a peer's bad record) must not show as progress.
    const double p = 100.0 * double(r.bytesReceived()) / double(size);
    if (p < 0.0 || p >= 100.0)
        return kBadSize;
    char text[32];
    std::snprintf(text, sizeof text, "%2.2f%%", p);
    return text;
}

std::string groupThousands(unsigned long value)
{
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string sizeText(const CatalogRecord& r)
{
    if (r.fileDescription().sizeHigh() != 0)
        return kOver2G;
    return groupThousands(r.fileSize());
}

std::array<std::string, kCatalogColumns> rowTexts(const CatalogRecord& r,
                                                  const std::string& ownNode)
{
    std::array<std::string, kCatalogColumns> cells;
    cells[CatalogColumn::FileName] = r.fileNameUtf8();
    cells[CatalogColumn::Sender] = r.originNodeUtf8();
    cells[CatalogColumn::Registered] = registrationText(r.registrationTime());
    cells[CatalogColumn::Expires] = expiryText(r.expiry());
    cells[CatalogColumn::Status] = statusText(r, ownNode);
    cells[CatalogColumn::Size] = sizeText(r);
    return cells;
}

bool isManagementFileName(const std::string& fileName)
{
    return catalog::isManagementFileName(fileName);
}

} // namespace ui
