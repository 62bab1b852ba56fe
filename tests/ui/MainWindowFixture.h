#pragma once

#include "node/PavoNode.h"
#include "support/RecordingPrompt.h"
#include "support/TempDir.h"
#include "support/TextFiles.h"
#include "ui/CPavoDlg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

// The main window over a private working folder, not started: its settings, lists and dialogs
// work without the transports running.
class MainWindowFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_oldRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
        node = std::make_unique<PavoNode>(dir.path(), NodeOptions{});
        window = std::make_unique<CPavoDlg>(*node, true);
        window->settings().setPartyName("party");
        window->settings().setNodeName("NodeA");
    }
    void TearDown() override
    {
        window.reset();
        node.reset();
        if (m_oldRuntime)
            ::setenv("XDG_RUNTIME_DIR", m_oldRuntime->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
    }

    std::string ini() const { return readText(window->settings().iniFileName()); }

    TempDir dir;
    RecordingPrompt prompt;
    std::unique_ptr<PavoNode> node;
    std::unique_ptr<CPavoDlg> window;

private:
    TempDir m_runtime;
    std::optional<std::string> m_oldRuntime;
};
