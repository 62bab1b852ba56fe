#pragma once

#include "platform/LocalTime.h"
#include "platform/NodeKey.h"

#include <optional>

#include <cstddef>
#include <string>
#include <vector>

// What one node publishes about itself (its node-information file), plus the route its file
// took to reach this node. Every text is UTF-8; the file holds CP932 (NodeInfoFile converts).
class CNodeInfo
{
public:
    static constexpr int PRESENCE_CONTACTABLE = 0;
    static constexpr int PRESENCE_NOT_CONTACTABLE = 1;
    static constexpr int PRESENCE_ABSENT = 2;
    // A presence value that none of the above names (from a file of another node).
    static constexpr int PRESENCE_UNKNOWN = -1;

    static constexpr std::size_t kMaxNeighbours = 16;
    static constexpr std::size_t kMaxRoute = 10;
    // The longest information text the settings dialog accepts, in CP932 bytes.
    static constexpr std::size_t kMaxEnteredInformation = 1000;

    std::string nodeName;
    std::string skypeId;
    std::string mailAddress;
    int presence = PRESENCE_NOT_CONTACTABLE;
    plat::SystemTime timeStamp;
    // At most kMaxNeighbours; the count is the vector's size.
    std::vector<std::string> neighbours;
    std::string version;
    // At most kMaxRoute names, in forwarding order.
    std::vector<std::string> route;
    std::string information;
    // The node's identity key as its file publishes it (none from a node that publishes none).
    std::optional<plat::NodeKey::PublicKey> publicKey;
    // How this node trusts that key: KEY_NONE without one, KEY_PINNED when it is the pinned key
    // (or the own), KEY_CHANGED when another key is pinned for the name and this one waits for
    // the user.
    int keyState = KEY_NONE;

    static constexpr int KEY_NONE = 0;
    static constexpr int KEY_PINNED = 1;
    static constexpr int KEY_CHANGED = 2;

    bool operator==(const CNodeInfo&) const = default;
};

// The text the node list shows for a presence value; empty for a value that names none, so a
// peer's odd value shows nothing rather than a guess.
std::string presenceText(int presence);

// The time stamp as the node list shows it: "%4d/%2d/%2d %02d:%02d".
std::string timeStampText(const plat::SystemTime& t);
