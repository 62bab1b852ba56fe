#pragma once

#include "app/CopyProgress.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

// A copy's progress on a terminal: one line, rewritten at most five times a second, with the
// percentage, the bytes, the rate and the time left; nothing when the stream is no terminal.
// An existing destination is replaced only when the user said so on the command line.
class TerminalProgress : public CopyProgress
{
public:
    TerminalProgress(std::FILE* stream, std::string label, bool replace);

    void start(std::uint64_t totalBytes) override;
    bool advance(std::uint64_t bytes) override;
    bool confirmReplace(const std::string& path) override;
    void finish() override;

    // The line shown for done of total bytes after seconds.
    static std::string line(const std::string& label, std::uint64_t done, std::uint64_t total,
                            double seconds);

private:
    using Clock = std::chrono::steady_clock;
    void show(bool last);

    std::FILE* m_stream;
    std::string m_label;
    bool m_replace;
    bool m_terminal;
    bool m_shown = false;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    Clock::time_point m_start;
    Clock::time_point m_lastShown;
};
