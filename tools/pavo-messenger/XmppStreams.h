#pragma once

#include "IbbStream.h"
#include "XmppPending.h"
#include "XmppStanza.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

class XmppConnection;
class XmppContacts;
class XmppHub;

// The application streams of the account mode: In-Band Bytestreams over IQ stanzas toward a
// resource that advertises the application, the open element naming the application. Only a
// mutual contact may open one, for an application a program of this client has created, and
// only a few at a time; a bad block closes its stream only. It also measures how fast the
// streams' blocks leave, to tell the user when the server holds the connection far below the
// node's pace.
class XmppStreams
{
public:
    // Block size this client asks for; it accepts up to MaxBlock from a peer.
    static constexpr std::size_t BlockSize = 4096;
    static constexpr std::size_t MaxBlock = 65535;
    // Streams one contact may have open with this client at once: a node keeps one per
    // contact, two while both ends connect at the same time; a few more are room to spare.
    static constexpr std::size_t MaxStreamsPerContact = 4;
    // The sending rate: every write of a program is timed from the moment it is handed over until
    // its last block is acknowledged, so the rate is what the server lets through while the node
    // has something to send. When the writes that left within the last RateWindow carried at
    // least MinBytes at less than FarBelow bytes a second, the server holds the connection far
    // below the node's pace (one 20480-byte chunk per 100 ms and stream: a quarter of it), and
    // the user is told once.
    static constexpr std::chrono::seconds RateWindow{10};
    static constexpr std::uint64_t MinBytes = 65536;
    static constexpr std::uint64_t FarBelow = 51200;

    XmppStreams(XmppHub& hub, XmppConnection& conn, XmppContacts& contacts);

    // Starts the rate sampling.
    void start();

    // The site's requests.
    void connect(const std::string& app, const std::string& peer);
    void write(int number, const std::string& data);
    void closeStream(int number, bool tellPeer, const std::string& why);
    // The application was deleted: its streams close.
    void closeApp(const std::string& app);
    // Every stream of peer (a full JID, or a bare one for all its resources), without telling it.
    void closeStreamsOf(const std::string& peer, const std::string& why);
    // The server connection is gone: every stream with it.
    void clear()
    {
        streams_.clear();
        writesInFlight_.clear();
    }

    // Requests and answers of the peers.
    void onOpen(xmpp_stanza_t* iq, xmpp_stanza_t* open, const std::string& from);
    void onData(xmpp_stanza_t* iq, xmpp_stanza_t* data, const std::string& from);
    void onClose(xmpp_stanza_t* iq, xmpp_stanza_t* close, const std::string& from);
    void onStreamAnswer(const XmppPending& p, bool ok, xmpp_stanza_t* iq);

    // The full list of the application's open streams, to the site.
    void sendStreams(const std::string& app);

private:
    void flush(IbbStream& s);
    IbbStream* findStream(const std::string& peer, const std::string& sid);
    std::size_t streamsWith(const std::string& bare) const;
    // The condition an open is refused with, or nullptr.
    const char* refusal(xmpp_stanza_t* open, const std::string& from, const std::string& app,
                        unsigned long& blockSize);
    void sampleRate();
    void writesLeft(int number, int count);

    XmppHub& hub_;
    XmppConnection& conn_;
    XmppContacts& contacts_;
    std::map<int, IbbStream> streams_;
    int nextNumber_ = 1;

    using Clock = std::chrono::steady_clock;
    struct WriteTiming
    {
        std::uint64_t bytes;
        Clock::time_point start;
    };
    struct WriteDone
    {
        int number;
        Clock::time_point at;
        std::uint64_t bytes;
        double seconds;
    };
    // Writes handed over and not yet acknowledged, per stream, oldest first.
    std::map<int, std::deque<WriteTiming>> writesInFlight_;
    // Writes that left within the last RateWindow.
    std::deque<WriteDone> writesDone_;
    bool limitReported_ = false;
    QObject context_;
};
