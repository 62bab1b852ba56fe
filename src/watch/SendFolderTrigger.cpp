#include "watch/SendFolderTrigger.h"

namespace {
constexpr int kQuietTimer = 1;
}

SendFolderTrigger::SendFolderTrigger(const std::string& folder, std::function<void()> pass)
    : m_pass(std::move(pass)), m_timer([this](int id) {
          m_timer.kill(id);
          if (m_pass)
              m_pass();
      })
{
    m_notifier = std::make_unique<plat::FolderNotifier>(
        folder, [this] { m_timer.set(kQuietTimer, kQuietMs); });
}
