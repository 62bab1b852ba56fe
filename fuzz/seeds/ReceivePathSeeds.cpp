// Writes the seed corpus of ReceivePathFuzz into the folder named on the command line: a few
// well-formed conversations of a peer, built with the message builders of the wire, so the seeds
// follow every layout the node reads. The first two bytes of each seed are the fuzz target's
// control bytes (its starting state and the slice size; see ReceivePathFuzz.cpp).
#include "platform/Cp932.h"
#include "platform/FindRecord.h"
#include "wire/CatalogRecord.h"
#include "wire/HelloBody.h"
#include "wire/MessageBuilder.h"
#include "wire/MessageHeader.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace catalog;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes message(std::size_t length, const std::vector<std::uint8_t>& buffer)
{
    return Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(length));
}

Bytes hello(const std::string& node, const std::string& party, std::uint32_t syncMode = 0)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    return message(buildHello(buf.data(), node, party, syncMode, plat::SystemTime{}), buf);
}

Bytes catalogRequest()
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    return message(buildCatalogRequest(buf.data()), buf);
}

Bytes batch(std::span<const CatalogRecord> records)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    return message(buildCatalogBatch(buf.data(), records), buf);
}

Bytes fileRequest(const CatalogRecord& record)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    CatalogRecord asked = record;
    asked.setBytesReceived(0);
    return message(buildFileDataRequest(buf.data(), asked), buf);
}

Bytes fileData(const CatalogRecord& record, std::uint32_t offset, std::size_t length)
{
    std::vector<std::uint8_t> buf(MsgLayout::MaxMessage);
    const Bytes chunk(length, 0);
    return message(buildFileData(buf.data(), record, offset, chunk), buf);
}

// A complete new registration of another node, with its checksum.
CatalogRecord record(const std::string& origin, const std::string& party, const std::string& name,
                     std::uint32_t size)
{
    CatalogRecord r;
    r.setRecordLength(CatalogRecord::Size);
    r.setRecordTag(RecordLayout::TagValue);
    r.setPendingFlag(1);
    r.setOriginNodeCp932(origin);
    r.setKind(RecordKind::New);
    r.setRegistrationTime({2030, 1, 2, 1, 10, 0, 0, 0});
    r.setExpiry({2030, 1, 5, 4, 10, 0, 0, 0});
    r.setBytesReceived(size);
    plat::FindRecord f;
    f.setAttributes(plat::FindAttr::Archive);
    f.setSize(size);
    f.setNameCp932(name);
    r.setFileDescription(f);
    r.setPartyNameCp932(party);
    stampChecksum(r);
    return r;
}

Bytes seed(std::uint8_t state, std::uint8_t slices, std::initializer_list<Bytes> messages)
{
    Bytes out{state, slices};
    for (const Bytes& m : messages)
        out.insert(out.end(), m.begin(), m.end());
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const CatalogRecord rec = record("PeerA", "Party", "a.txt", 70000);
    const CatalogRecord one[] = {rec};
    // A TLS client hello's first bytes: what a keyed peer sends before anything else.
    Bytes tlsHello{0x16, 3, 1, 0, 60, 1, 0, 0, 56, 3, 3};
    tlsHello.resize(tlsHello.size() + 52);
    const struct
    {
        const char* name;
        Bytes bytes;
    } seeds[] = {
        {"handshake",
         seed(0x02, 0x20, {hello("PeerA", "Party"), hello("PeerA", "Party", 1), catalogRequest()})},
        {"batch", seed(0x03, 0x00, {batch(one), batch({})})},
        {"file", seed(0x03, 0x07, {fileRequest(rec), fileData(rec, 0, 100)})},
        {"party", seed(0x03, 0x01, {hello("PeerA", "Other")})},
        {"stranger", seed(0x02, 0x40, {hello("Nobody", "Party"), catalogRequest()})},
        // The same conversations behind the TLS layer of a keyed node: raw handshake bytes, and
        // records from a peer with the right key (intact, and with one byte flipped).
        {"tls-hello", seed(0x04, 0x20, {tlsHello})},
        {"tls-plain-peer", seed(0x06, 0x20, {hello("PeerA", "Party")})},
        {"tls-stream",
         seed(0x0e, 0x20, {hello("PeerA", "Party"), hello("PeerA", "Party", 1), catalogRequest()})},
        {"tls-altered", seed(0x1f, 0x07, {batch(one), batch({})})},
    };
    for (const auto& s : seeds) {
        const std::string path = std::string(argv[1]) + "/" + s.name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(s.bytes.data()),
                  static_cast<std::streamsize>(s.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
