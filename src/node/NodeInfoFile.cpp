#include "node/NodeInfoFile.h"

#include "platform/Bytes.h"
#include "platform/Cp932.h"
#include "platform/Diag.h"

#include <algorithm>
#include <string_view>

namespace nodeinfo {

namespace {

using namespace FileLayout;

// Keeps the last byte of the field zero: readers written against the layout may expect the
// terminator, and a cut never splits a double-byte character.
void putText(FileImage& image, std::size_t offset, std::size_t size, std::string_view utf8,
             const char* what)
{
    const auto cp932 = plat::toCp932(utf8);
    if (!cp932) {
        plat::diag("nodeInfomation: %s cannot be written in CP932, left empty\n", what);
        return;
    }
    plat::copyCp932Field(image.data() + offset, size - 1, *cp932);
}

std::string getText(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size)
{
    return plat::fieldToUtf8(bytes.data() + offset, size);
}

int presenceFromFile(std::uint32_t value)
{
    return value <= std::uint32_t(CNodeInfo::PRESENCE_ABSENT) ? int(value)
                                                              : CNodeInfo::PRESENCE_UNKNOWN;
}

} // namespace

FileImage encode(const CNodeInfo& info)
{
    FileImage image{};
    plat::putU32(image.data() + Kind, KindValue);
    plat::putU32(image.data() + Length, Size);
    plat::encodeSystemTime(info.timeStamp, image.data() + TimeStamp);
    putText(image, NodeName, NameSize, info.nodeName, "node name");
    const int presence = info.presence < 0 ? 0 : info.presence;
    plat::putU32(image.data() + Presence, std::uint32_t(presence));
    putText(image, SkypeId, SkypeIdSize, info.skypeId, "Skype ID");
    putText(image, MailAddress, MailAddressSize, info.mailAddress, "mail address");
    std::uint32_t count = 0;
    for (const std::string& name : info.neighbours) {
        if (count == MaxNeighbours)
            break;
        putText(image, Neighbours + count * NameSize, NameSize, name, "neighbour");
        ++count;
    }
    plat::putU32(image.data() + NeighbourCount, count);
    putText(image, Version, VersionSize, info.version, "version");
    putText(image, Information, InformationSize, info.information, "information");
    if (info.publicKey) {
        plat::putU32(image.data() + KeyMark, KeyMagic);
        std::copy(info.publicKey->begin(), info.publicKey->end(), image.begin() + PublicKey);
    }
    return image;
}

std::optional<CNodeInfo> decode(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < Size)
        return std::nullopt;
    bytes = bytes.first(Size);
    CNodeInfo info;
    info.timeStamp = plat::decodeSystemTime(bytes.data() + TimeStamp);
    info.nodeName = getText(bytes, NodeName, NameSize);
    info.presence = presenceFromFile(plat::getU32(bytes.data() + Presence));
    info.skypeId = getText(bytes, SkypeId, SkypeIdSize);
    info.mailAddress = getText(bytes, MailAddress, MailAddressSize);
    const std::uint32_t stated = plat::getU32(bytes.data() + NeighbourCount);
    const std::size_t count = stated < MaxNeighbours ? stated : MaxNeighbours;
    for (std::size_t slot = 0; slot < MaxNeighbours && info.neighbours.size() < count; ++slot) {
        std::string name = getText(bytes, Neighbours + slot * NameSize, NameSize);
        if (!name.empty())
            info.neighbours.push_back(std::move(name));
    }
    info.version = getText(bytes, Version, VersionSize);
    info.information = getText(bytes, Information, InformationSize);
    if (plat::getU32(bytes.data() + KeyMark) == KeyMagic) {
        plat::NodeKey::PublicKey key{};
        std::copy(bytes.begin() + PublicKey, bytes.begin() + KeyEnd, key.begin());
        info.publicKey = key;
    }
    return info;
}

} // namespace nodeinfo
