#pragma once

#include "platform/EventLoop.h"
#include "platform/FolderNotifier.h"

#include <functional>
#include <memory>
#include <string>

// Runs a folder-watch pass shortly after the send folder changes, in addition to the main
// window's periodic pass: every change restarts a quiet period of kQuietMs (scaled by
// PAVO_TIME_SCALE), and the pass runs when it ends, so a burst of changes costs one pass. A file
// still being written is left to the pass's own rules; closing it after writing is a change
// again, so it is looked at once more then.
class SendFolderTrigger
{
public:
    static constexpr int kQuietMs = 500;

    SendFolderTrigger(const std::string& folder, std::function<void()> pass);
    SendFolderTrigger(const SendFolderTrigger&) = delete;
    SendFolderTrigger& operator=(const SendFolderTrigger&) = delete;

    bool watching() const { return m_notifier && m_notifier->watching(); }

private:
    std::function<void()> m_pass;
    plat::TimerSet m_timer;
    std::unique_ptr<plat::FolderNotifier> m_notifier;
};
