#include "TestNode.h"

#include "app/CPostError.h"
#include "app/WindowMessages.h"
#include "catalog/CCatalog.h"
#include "tcp/CTcpA2AModel.h"

#include <algorithm>
#include <cstdlib>

void TestNode::useFastTimers()
{
    ::setenv("PAVO_TIME_SCALE", kTimeScale, 1);
}

TestNode::TestNode(const std::string& nodeName, const std::string& party)
    : settings((useFastTimers(), dir.path())), m_noticeWindow([this](const plat::WindowMessage& m) {
          if (m.msg == WM_POSTERROR)
              notices.emplace_back(static_cast<int>(m.wparam), static_cast<int>(m.lparam));
      }),
      m_context(settings, nullptr, &m_poster)
{
    settings.setNodeName(nodeName);
    settings.setPartyName(party);
    settings.setListenPort(0);
    m_poster.setWindow(m_noticeWindow.handle());
    m_catalog = std::make_unique<CCatalog>(m_context, true);
    m_model = std::make_unique<CTcpA2AModel>(m_context);
    m_model->addListener(this);
    m_model->goOnline();
}

TestNode::~TestNode()
{
    m_model.reset();
    m_catalog.reset();
    // Connections closed by the last test steps are destroyed on the next turn of the loop.
    plat::runFor(5);
}

int TestNode::port() const
{
    return m_model->listenPort();
}

bool TestNode::waitConnected(const std::string& nodeName, int timeoutMs)
{
    return plat::runUntil([&] { return m_model->isConnected(nodeName, {}) == 1; }, timeoutMs);
}

bool TestNode::waitNotice(int kind, int timeoutMs)
{
    return plat::runUntil(
        [&] {
            return std::any_of(notices.begin(), notices.end(),
                               [kind](const auto& n) { return n.first == kind; });
        },
        timeoutMs);
}
