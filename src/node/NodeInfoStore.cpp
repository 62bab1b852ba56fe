#include "node/NodeInfoStore.h"

#include "app/CPropatyHotLine.h"
#include "app/ShellUtil.h"
#include "platform/AtomicFile.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"
#include "platform/Files.h"
#include "platform/FindRecord.h"
#include "platform/Hex.h"
#include "platform/IniFile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>

namespace {

constexpr const char* kSection = "SYSTEM";
constexpr const char* kSkypeIdKey = "NODESKYPEID";
constexpr const char* kMailKey = "NODEMAILADR";
constexpr const char* kStatusKey = "NODESTATUS";
constexpr const char* kInformationKey = "INFOMATION";

// The contact texts are read into buffers of 2049 bytes.
constexpr std::size_t kContactTextMax = 2048;
// Enough hexadecimal digits for the 1024 bytes that are saved, so a full text reads back whole.
constexpr std::size_t kInformationBytes = nodeinfo::FileLayout::InformationSize;
constexpr std::size_t kInformationHexMax = 2 * kInformationBytes;

std::optional<CatalogRecord> noEntry(const std::string&, const std::string&)
{
    return std::nullopt;
}

std::string decodeInformation(const std::string& hex)
{
    std::array<std::uint8_t, kInformationBytes> bytes{};
    const std::size_t n = plat::hexToBytes(hex, bytes.data(), bytes.size());
    return plat::fieldToUtf8(bytes.data(), n);
}

// The CP932 bytes of text as hexadecimal, cut at a whole character within 1024 bytes.
std::optional<std::string> encodeInformation(const std::string& text)
{
    const auto cp932 = plat::toCp932(text);
    if (!cp932)
        return std::nullopt;
    std::array<std::uint8_t, kInformationBytes> field{};
    plat::copyCp932Field(field.data(), field.size(), *cp932);
    const std::string_view cut = plat::fieldView(field.data(), field.size());
    std::string hex;
    plat::appendHex(hex, reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size());
    return hex;
}

bool isPresence(int value)
{
    return value >= CNodeInfo::PRESENCE_CONTACTABLE && value <= CNodeInfo::PRESENCE_ABSENT;
}

} // namespace

NodeInfoStore::NodeInfoStore(CPropatyHotLine& settings, EntryLookup lookup, Clock clock)
    : m_settings(settings), m_lookup(lookup ? std::move(lookup) : EntryLookup(&noEntry)),
      m_clock(clock ? std::move(clock) : Clock(&plat::localNow))
{
}

void NodeInfoStore::loadOwnInfo()
{
    const plat::IniFile ini(m_settings.iniFileName());
    m_own.skypeId = ini.getString(kSection, kSkypeIdKey, "", kContactTextMax);
    m_own.mailAddress = ini.getString(kSection, kMailKey, "", kContactTextMax);
    const int presence = ini.getInt(kSection, kStatusKey, CNodeInfo::PRESENCE_CONTACTABLE);
    m_own.presence = isPresence(presence) ? presence : CNodeInfo::PRESENCE_CONTACTABLE;
    m_own.information =
        decodeInformation(ini.getString(kSection, kInformationKey, "", kInformationHexMax));
}

bool NodeInfoStore::saveOwnInfo()
{
    plat::IniFile ini(m_settings.iniFileName());
    bool ok = ini.writeString(kSection, kSkypeIdKey, m_own.skypeId);
    ok = ini.writeString(kSection, kMailKey, m_own.mailAddress) && ok;
    ok = ini.writeInt(kSection, kStatusKey, m_own.presence) && ok;
    const auto hex = encodeInformation(m_own.information);
    if (!hex) {
        plat::diag("saveOwnInfo: the information cannot be written in CP932, not saved\n");
        return false;
    }
    return ini.writeString(kSection, kInformationKey, *hex) && ok;
}

std::vector<std::string> NodeInfoStore::neighbourNames() const
{
    // Each name once, packed from the first slot: a repeated name leaves no hole that would
    // push a later name beyond the count readers go by.
    std::vector<std::string> names;
    const int count = m_settings.getConnectCount();
    for (int i = 0; i < count && names.size() < CNodeInfo::kMaxNeighbours; ++i) {
        std::string name = m_settings.getConnectNodeName(i);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(std::move(name));
    }
    return names;
}

void NodeInfoStore::buildOwnRecord()
{
    m_own.timeStamp = m_clock();
    m_own.nodeName = m_settings.getNodeName();
    m_own.neighbours = neighbourNames();
    m_own.version = getVersionText();
    m_own.route.clear();
    m_image = nodeinfo::encode(m_own);
}

std::string NodeInfoStore::ownFilePath() const
{
    return plat::joinPath(m_settings.getSendFolder(), kFileName);
}

bool NodeInfoStore::writeOwnFile()
{
    if (m_own.nodeName.empty())
        return false;
    const std::string path = ownFilePath();
    if (!plat::AtomicFile::save(path, m_image.data(), m_image.size())) {
        plat::diag("writeOwnFile: %s could not be written\n", path.c_str());
        return false;
    }
    return true;
}

std::optional<CNodeInfo> NodeInfoStore::readFile(const std::string& path)
{
    // Only a regular file is opened: a pipe of that name would block the window thread.
    plat::FindRecord description;
    if (plat::statFindRecord(path, description) != plat::FindResult::Ok ||
        (description.attributes() & (plat::FindAttr::Directory | plat::FindAttr::Device)) != 0)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    nodeinfo::FileImage bytes{};
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return nodeinfo::decode(std::span(bytes.data(), std::size_t(in.gcount())));
}

std::vector<std::string> NodeInfoStore::routeOf(const CatalogRecord& entry)
{
    std::vector<std::string> route;
    const std::int32_t hops = entry.hopCount();
    if (hops < 0 || hops > std::int32_t(CNodeInfo::kMaxRoute))
        return route;
    for (std::int32_t i = 0; i < hops; ++i) {
        const std::string_view name = entry.hopCp932(std::size_t(i));
        route.push_back(
            plat::fieldToUtf8(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    }
    return route;
}

std::vector<CNodeInfo> NodeInfoStore::loadNodeList() const
{
    std::vector<CNodeInfo> list{m_own};
    const std::string recv = m_settings.getRecvFolder();
    std::vector<plat::FolderEntry> entries = plat::listFolder(recv);
    std::sort(
        entries.begin(), entries.end(),
        [](const plat::FolderEntry& a, const plat::FolderEntry& b) { return a.name < b.name; });
    for (const plat::FolderEntry& entry : entries) {
        if (entry.result != plat::FindResult::Ok ||
            (entry.record.attributes() & plat::FindAttr::Directory) == 0 ||
            (entry.record.attributes() & plat::FindAttr::ReparsePoint) != 0)
            continue;
        auto info = readFile(plat::joinPath(plat::joinPath(recv, entry.name), kFileName));
        if (!info)
            continue;
        // A key counts only for the node whose folder holds the file.
        if (info->nodeName != entry.name)
            info->publicKey.reset();
        if (const auto catalogEntry = m_lookup(entry.name, kFileName))
            info->route = routeOf(*catalogEntry);
        list.push_back(std::move(*info));
    }
    return list;
}

std::vector<CNodeInfo> NodeInfoStore::refresh()
{
    buildOwnRecord();
    writeOwnFile();
    return loadNodeList();
}
