#pragma once

#include "TempDir.h"
#include "app/CPostError.h"
#include "app/NodeSettings.h"
#include "exchange/NodeContext.h"

#include "app/CA2AModelListener.h"
#include "platform/EventLoop.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CCatalog;
class CTcpA2AModel;

// The core of one node for transport tests: settings and a catalog in a private working folder,
// and a TCP peer model listening on a free loopback port. Timers run fast (PAVO_TIME_SCALE), so
// the 50 ms poll takes about a millisecond. The notices the transport posts for the status line
// are collected.
class TestNode : public CA2AModelListener
{
public:
    static constexpr const char* kTimeScale = "0.02";

    explicit TestNode(const std::string& nodeName = "NodeA", const std::string& party = "Party1");
    ~TestNode() override;

    // Call before anything starts a timer in the test program.
    static void useFastTimers();

    TempDir dir;
    NodeSettings settings;

    // The node's shared parts: its catalog, claims and change news; notices go to this node.
    NodeContext& context() { return m_context; }
    CTcpA2AModel& model() { return *m_model; }
    CCatalog& catalog() { return *m_catalog; }
    // The port the node listens on.
    int port() const;

    // Waits until the model has admitted a connection with that node name.
    bool waitConnected(const std::string& nodeName, int timeoutMs = 3000);

    // onConnectionChanged calls so far.
    int changes = 0;
    // WM_POSTERROR parameters, in posting order.
    std::vector<std::pair<int, int>> notices;
    bool waitNotice(int kind, int timeoutMs = 3000);
    // The last detail text posted for the status line.
    const std::string& detailText() const { return m_poster.detailText(); }

    void onConnectionChanged() override { ++changes; }

private:
    CPostError m_poster;
    plat::MessageWindow m_noticeWindow;
    NodeContext m_context;
    std::unique_ptr<CCatalog> m_catalog;
    std::unique_ptr<CTcpA2AModel> m_model;
};
