#include "wire/HelloBody.h"

#include "platform/Bytes.h"
#include "platform/Cp932.h"

#include <cstring>

namespace catalog {

using namespace HelloLayout;

std::string HelloBody::nodeNameUtf8() const
{
    return plat::fieldToUtf8(reinterpret_cast<const std::uint8_t*>(nodeNameCp932.data()),
                             nodeNameCp932.size());
}

std::string HelloBody::partyNameUtf8() const
{
    return plat::fieldToUtf8(reinterpret_cast<const std::uint8_t*>(partyNameCp932.data()),
                             partyNameCp932.size());
}

HelloBody HelloBody::read(const std::uint8_t* msg)
{
    HelloBody h;
    h.nameBinding = plat::getU32(msg + NameBinding);
    h.nodeNameCp932 = std::string(plat::fieldView(msg + NodeName, NodeNameSize));
    h.syncMode = plat::getU32(msg + SyncModeField);
    h.since = plat::decodeSystemTime(msg + SinceDate);
    h.partyNameCp932 = std::string(plat::fieldView(msg + PartyName, PartyNameSize));
    if (plat::getU32(msg + FlowMark) == FlowMagic) {
        h.hasFlow = true;
        h.flowWindow = plat::getU16(msg + FlowWindow);
        h.flowFlags = plat::getU16(msg + FlowFlags);
    }
    return h;
}

void HelloBody::write(std::uint8_t* msg) const
{
    std::memset(msg + Reserved0, 0, BodySize);
    plat::putU32(msg + NameBinding, nameBinding);
    plat::copyCp932Field(msg + NodeName, NodeNameSize, nodeNameCp932);
    plat::putU32(msg + SyncModeField, syncMode);
    plat::encodeSystemTime(since, msg + SinceDate);
    plat::copyCp932Field(msg + PartyName, PartyNameSize, partyNameCp932);
    if (hasFlow) {
        plat::putU32(msg + FlowMark, FlowMagic);
        plat::putU16(msg + FlowWindow, flowWindow);
        plat::putU16(msg + FlowFlags, flowFlags);
    }
}

void writeHelloFlow(std::uint8_t* msg, std::uint16_t window, std::uint16_t flags)
{
    plat::putU32(msg + FlowMark, FlowMagic);
    plat::putU16(msg + FlowWindow, window);
    plat::putU16(msg + FlowFlags, flags);
}

} // namespace catalog
