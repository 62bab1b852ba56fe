// Feeds arbitrary bytes into a TCP connection of a node core as if a peer had sent them: framing,
// sequence checks, the handshake and the catalog exchange with its catalog, in a scratch working
// folder. Whatever arrives, the node must neither crash, read or write out of bounds, stall, nor
// create anything outside its own folders.
//
// Input layout: byte 0 picks the starting state (bit 0: already admitted) and whether sequence
// numbers are fixed up so the fuzzer gets past the sequence check (bit 1); byte 1 picks the
// size of the slices in which the rest arrives.
//
// Bit 2 puts the TLS layer of a node with a party key in front. Without bit 3 the bytes are what
// the peer sends from the start, so they meet the TLS handshake (which no guess passes: anything
// that comes out is handed on, but nothing should). With bit 3 a peer with the right key has
// completed the handshake and sends the bytes as TLS records, which go through decryption into
// the receive path; bit 4 then flips one byte of the records (at the place byte 1 names), which
// must end the connection and hand on nothing of the altered record.
#include "app/NodeSettings.h"
#include "catalog/CCatalog.h"
#include "exchange/NodeContext.h"
#include "platform/Bytes.h"
#include "platform/TlsSession.h"
#include "tcp/CTcpSockStream.h"
#include "tcp/CTcpSockStreamParent.h"
#include "tcp/TcpFrame.h"
#include "wire/MessageHeader.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// Plays the peer model for one connection: admits "PeerA", closes on everything else.
class FuzzParent : public CTcpSockStreamParent
{
public:
    CTcpSockStream* stream = nullptr;

    void onAccept(int) override {}
    void onConnect(int) override {}
    void onClose(int) override { stream->close(); }
    void notifyOnError(int, int) override { stream->close(); }
    void notifyNodeName(int, const std::string& name) override
    {
        if (name != "PeerA") {
            stream->close();
            return;
        }
        stream->setNodeName(name);
        stream->setState(CTcpSockStream::kEstablished);
    }
};

struct Scratch
{
    Scratch()
    {
        static int argc = 1;
        static char name[] = "fuzz";
        static char* argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
        char pattern[] = "/tmp/pavo-fuzz-XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        scratch = pattern;
        // The working folder sits one level down, so a path that climbs out of RECV or SEND
        // lands where containedInFolders() sees it.
        folder = scratch + "/work";
        std::filesystem::create_directories(folder);
        settings = new NodeSettings(folder);
        settings->setNodeName("Fuzz");
        settings->setPartyName("Party");
        settings->connections().append({"PeerA", "TCP", "127.0.0.1", {}});
        settings->connections().append({"PeerS", "SKYPE", "peer.s", {}});
        node = new NodeContext(*settings);
        catalog = std::make_unique<CCatalog>(*node, true);
    }

    // A run that ends normally leaves no scratch folder behind; a crash keeps it for a look.
    ~Scratch()
    {
        catalog.reset();
        std::error_code ec;
        std::filesystem::remove_all(scratch, ec);
    }

    // Nothing but the node's own folders and files may appear in the working folder, and
    // nothing next to it.
    bool containedInFolders() const
    {
        namespace fs = std::filesystem;
        static const char* const allowed[] = {"RECV", "SEND", "CATALOG", "Pavo.ini"};
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(scratch, ec))
            if (e.path().filename() != "work")
                return false;
        for (const auto& e : fs::directory_iterator(folder, ec)) {
            const std::string name = e.path().filename().string();
            if (std::find(std::begin(allowed), std::end(allowed), name) == std::end(allowed))
                return false;
        }
        return true;
    }

    QCoreApplication* app;
    std::string scratch;
    std::string folder;
    NodeSettings* settings;
    NodeContext* node;
    std::unique_ptr<CCatalog> catalog;
};

// Stamps consecutive sequence numbers into whole frames of the slice, where they fit.
void fixSequences(std::vector<std::uint8_t>& bytes, std::uint32_t first)
{
    std::size_t at = 0;
    while (at + tcp::kMinFrame <= bytes.size()) {
        const std::size_t length = catalog::messageLength(bytes.data() + at);
        if (length < tcp::kMinFrame)
            return;
        plat::putU32(bytes.data() + at + catalog::MsgLayout::Sequence, first++);
        at += length;
    }
}

std::vector<std::uint8_t> takeAll(plat::TlsSession& s)
{
    std::vector<std::uint8_t> out(s.outgoingPending());
    out.resize(s.takeOutgoing(out.data(), out.size()));
    return out;
}

std::shared_ptr<const plat::TlsContext> fuzzKey()
{
    static const std::shared_ptr<const plat::TlsContext> ctx = [] {
        plat::TlsContext::Key key;
        key.fill(0x5a);
        return plat::TlsContext::create(key);
    }();
    return ctx;
}

// What a keyed node's TLS layer hands on of the bytes a peer sends (see the layout above).
std::vector<std::uint8_t> throughTls(std::vector<std::uint8_t> bytes, bool established, bool flip,
                                     std::size_t slice, std::uint8_t flipAt)
{
    plat::TlsSession server(fuzzKey(), plat::TlsSession::Role::Server);
    if (established) {
        plat::TlsSession client(fuzzKey(), plat::TlsSession::Role::Client);
        for (int round = 0; round < 8 && !server.established(); ++round) {
            client.handshake();
            const auto c = takeAll(client);
            server.putIncoming(c.data(), c.size());
            server.handshake();
            const auto s = takeAll(server);
            client.putIncoming(s.data(), s.size());
        }
        client.handshake();
        if (!server.established() || !client.established() ||
            !client.write(bytes.data(), bytes.size()))
            std::abort(); // the same key must always connect
        bytes = takeAll(client);
        if (flip && !bytes.empty())
            bytes[(flipAt * 131u) % bytes.size()] ^= 0x01;
    }
    std::vector<std::uint8_t> plain;
    std::uint8_t buffer[16384];
    for (std::size_t at = 0; at < bytes.size(); at += slice) {
        server.putIncoming(bytes.data() + at, std::min(slice, bytes.size() - at));
        for (;;) {
            std::size_t n = 0;
            const plat::TlsSession::Result r = server.read(buffer, sizeof buffer, &n);
            if (r == plat::TlsSession::Result::Failed || r == plat::TlsSession::Result::Closed)
                return plain;
            if (r != plat::TlsSession::Result::Ok)
                break;
            plain.insert(plain.end(), buffer, buffer + n);
        }
        takeAll(server); // what the server would answer goes nowhere
    }
    return plain;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Scratch scratch;
    if (size < 2)
        return 0;
    const bool admitted = data[0] & 1;
    const bool fixSequence = data[0] & 2;
    const std::size_t slice = 1 + static_cast<std::size_t>(data[1]) * 97;
    std::vector<std::uint8_t> bytes(data + 2, data + size);
    if (fixSequence)
        fixSequences(bytes, 0);
    if (data[0] & 4) {
        const bool established = data[0] & 8;
        const std::size_t total = bytes.size();
        bytes = throughTls(std::move(bytes), established, data[0] & 16, slice, data[1]);
        // Only an intact stream from the right key comes through, and then all of it.
        if (established && !(data[0] & 16) && bytes.size() != total)
            std::abort();
        if (!established && !bytes.empty())
            std::abort();
    }

    {
        FuzzParent parent;
        CTcpSockStream stream(*scratch.node);
        parent.stream = &stream;
        stream.setParent(&parent);
        stream.setId(1);
        stream.setDiscardSends(true);
        stream.setHost("Pending");
        stream.setNodeName(admitted ? "PeerA" : "Pending");
        stream.setState(admitted ? CTcpSockStream::kEstablished : CTcpSockStream::kConnected);
        for (std::size_t at = 0; at < bytes.size() && !stream.dead(); at += slice) {
            const std::size_t n = std::min(slice, bytes.size() - at);
            if (stream.acceptBytes(bytes.data() + at, n))
                stream.processReceived();
            stream.poll();
        }
    }
    // The posted 1224 messages of the gone connection, and its deferred work.
    QCoreApplication::sendPostedEvents();
    if (!scratch.containedInFolders()) {
        std::fprintf(stderr, "a peer wrote outside the node's folders under %s\n",
                     scratch.scratch.c_str());
        std::abort();
    }
    return 0;
}
