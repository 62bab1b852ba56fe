#pragma once

#include "exchange/ChangeSignal.h"
#include "exchange/DownloadClaims.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

class CatalogStore;
class CPostError;
class CPropatyHotLine;
class RecordAdmission;
class VX_EVENTCATALOG;

// What one node's catalog, transports and catalog exchanges work with, handed from the node down
// to every connection instead of being looked up process-wide, so that two nodes in one process
// never reach each other's parts:
// - the node's settings;
// - the channel the catalog announces on and the poster of the status line's notices (none: a
//   catalog or transport built alone announces and posts to nobody);
// - which connection is fetching which entry, and the catalog-change news;
// - the catalog store while it lives (CatalogStore: the node's catalog). The node builds the
//   catalog after the transports and takes it down before them, so a connection finds none at
//   either end and does no catalog work then.
//
// - what tests and benchmarks switch and count in this node's connections.
//
// The context is built first and goes last: it outlives the catalog and every connection.
class NodeContext
{
public:
    // What tests and benchmarks change in this node's exchanges. Without the flow block its
    // hellos play a node built to the original design: peers keep the safe window toward it and
    // get no news flag. A clock, when set, stands in for the steady clock the exchanges time their
    // requests with. countedFile (CP932) names the file whose received bytes are counted apart.
    struct Switches
    {
        bool sendsFlowBlock = true;
        std::function<std::chrono::steady_clock::time_point()> clock;
        std::string countedFile;
    };
    // What this node has counted, for benchmarks: file bytes received in answers (stored or not;
    // countedFileBytes only those of the counted file), file data requests asked again, answers
    // dropped as duplicates, late or not asked for, the request-to-answer times, and connections
    // ended by a frame or sequence error.
    struct Counters
    {
        std::uint64_t fileBytesReceived = 0;
        std::uint64_t countedFileBytes = 0;
        std::uint64_t requestsAskedAgain = 0;
        std::uint64_t answersDropped = 0;
        double longestAnswerMs = 0;
        double answerMsSum = 0;
        std::uint64_t answerCount = 0;
        std::uint64_t frameErrorCloses = 0;

        double meanAnswerMs() const { return answerCount ? answerMsSum / answerCount : 0; }
    };

    explicit NodeContext(CPropatyHotLine& settings, VX_EVENTCATALOG* catalogEvents = nullptr,
                         CPostError* notices = nullptr)
        : m_settings(settings), m_catalogEvents(catalogEvents), m_notices(notices)
    {
    }
    NodeContext(const NodeContext&) = delete;
    NodeContext& operator=(const NodeContext&) = delete;

    CPropatyHotLine& settings() const { return m_settings; }
    VX_EVENTCATALOG* catalogEvents() const { return m_catalogEvents; }
    // The node's catalog store while it lives, otherwise nullptr.
    CatalogStore* store() const { return m_store; }
    // Who may say what about a file (seals, known keys); none: records are taken unchecked and
    // no seals travel.
    RecordAdmission* trust() const { return m_trust; }
    void setTrust(RecordAdmission* trust) { m_trust = trust; }
    DownloadClaims& claims() { return m_claims; }
    ChangeSignal& changes() { return m_changes; }
    const ChangeSignal& changes() const { return m_changes; }
    Switches& switches() { return m_switches; }
    Counters& counters() { return m_counters; }

    // The node's catalog enters itself for as long as it lives (its constructor and destructor).
    void setStore(CatalogStore* store) { m_store = store; }
    // The node drops its channel and poster when it shuts down, after its transports and catalog.
    void setCatalogEvents(VX_EVENTCATALOG* events) { m_catalogEvents = events; }
    void setNotices(CPostError* notices) { m_notices = notices; }

    // Through the node's notice poster (CPostError::post / postDetail); nothing without one.
    void post(int kind) const;
    void postDetail(const std::string& text) const;

private:
    CPropatyHotLine& m_settings;
    VX_EVENTCATALOG* m_catalogEvents;
    CPostError* m_notices;
    CatalogStore* m_store = nullptr;
    RecordAdmission* m_trust = nullptr;
    DownloadClaims m_claims;
    ChangeSignal m_changes;
    Switches m_switches;
    Counters m_counters;
};
