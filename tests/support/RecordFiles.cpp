#include "RecordFiles.h"

#include "platform/FindRecord.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace recordfiles {

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<std::uint8_t> recordsBytes(const std::vector<CatalogRecord>& records)
{
    std::vector<std::uint8_t> out;
    for (const CatalogRecord& r : records)
        out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    return out;
}

CatalogRecord recordInFile(const std::vector<std::uint8_t>& file, std::size_t i)
{
    CatalogRecord r;
    std::copy_n(file.begin() + std::ptrdiff_t(i * CatalogRecord::Size), CatalogRecord::Size,
                r.bytes.begin());
    return r;
}

std::vector<CatalogRecord> recordsOf(const std::string& path)
{
    const auto bytes = readFile(path);
    std::vector<CatalogRecord> out(bytes.size() / CatalogRecord::Size);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = recordInFile(bytes, i);
    return out;
}

CatalogRecord markedRecord(const std::string& origin, const std::string& name, std::uint8_t mark,
                           const std::function<void(CatalogRecord&)>& more)
{
    CatalogRecord r;
    r.setOriginNodeCp932(origin);
    plat::FindRecord f;
    f.setNameCp932(name);
    r.setFileDescription(f);
    r.bytes[catalog::RecordLayout::Reserved2] = mark;
    if (more)
        more(r);
    catalog::stampChecksum(r);
    return r;
}

} // namespace recordfiles
