#pragma once

#include "node/CNodeInfo.h"
#include "node/NodeInfoFile.h"
#include "platform/LocalTime.h"
#include "wire/CatalogRecord.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

class CPropatyHotLine;

// The own node's information and the party's: the contact keys of the settings file, the
// published file in the send folder (which the folder watch registers and the catalog carries
// to every node) and the files received from the other nodes. The node-information window
// runs it at its creation and every 30 s.
class NodeInfoStore
{
public:
    static constexpr const char* kFileName = "nodeInfomation.nod";

    // The catalog entry of an origin node and file name (UTF-8), when there is one.
    using EntryLookup = std::function<std::optional<CatalogRecord>(const std::string& originNode,
                                                                   const std::string& fileName)>;
    using Clock = std::function<plat::SystemTime()>;

    // The node hands in a lookup in its catalog; an empty one finds no entry (no routes). An
    // empty clock is the local time.
    explicit NodeInfoStore(CPropatyHotLine& settings, EntryLookup lookup = {}, Clock clock = {});

    CNodeInfo& own() { return m_own; }
    const CNodeInfo& own() const { return m_own; }

    // Skype ID, mail address, presence and information from section "SYSTEM" of the settings
    // file. A presence outside 0..2 reads as 0, the value of a missing key.
    void loadOwnInfo();
    // Writes those four keys; the information as lower-case hexadecimal of its CP932 bytes, at
    // most 1024 of them. False when the file could not be written or a text cannot be written
    // in CP932 (that key then keeps its old value).
    bool saveOwnInfo();

    // Stamps the own information with the time, the node name, the distinct names of the
    // configured connections and the version, and builds the file image from it.
    void buildOwnRecord();
    const nodeinfo::FileImage& image() const { return m_image; }
    // Writes the image to the send folder; nothing while the node has no name. The file is
    // replaced whole, so the folder watch and the peers never see it half written.
    bool writeOwnFile();
    std::string ownFilePath() const;

    // The own information first, then one entry per folder of the receive folder holding a
    // readable node-information file, in name order, each with the route its file took here.
    std::vector<CNodeInfo> loadNodeList() const;

    // One publishing step: build, write (when named), and the list.
    std::vector<CNodeInfo> refresh();

    // The information a received file holds; none when it cannot be read as one.
    static std::optional<CNodeInfo> readFile(const std::string& path);
    // The hop list of a catalog entry, as far as its hop count says (none beyond 10 hops).
    static std::vector<std::string> routeOf(const CatalogRecord& entry);

private:
    std::vector<std::string> neighbourNames() const;

    CPropatyHotLine& m_settings;
    EntryLookup m_lookup;
    Clock m_clock;
    CNodeInfo m_own;
    nodeinfo::FileImage m_image{};
};
