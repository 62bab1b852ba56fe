#include "control/TerminalProgress.h"

#include "control/CliFormat.h"

#include <QJsonValue>

#include <unistd.h>

TerminalProgress::TerminalProgress(std::FILE* stream, std::string label, bool replace)
    : m_stream(stream), m_label(std::move(label)), m_replace(replace),
      m_terminal(::isatty(::fileno(stream)) == 1)
{
}

void TerminalProgress::start(std::uint64_t totalBytes)
{
    m_total = totalBytes;
    m_start = Clock::now();
    m_lastShown = m_start;
}

bool TerminalProgress::advance(std::uint64_t bytes)
{
    m_done += bytes;
    if (Clock::now() - m_lastShown >= std::chrono::milliseconds(200))
        show(false);
    return true;
}

bool TerminalProgress::confirmReplace(const std::string& /*path*/)
{
    return m_replace;
}

void TerminalProgress::finish()
{
    if (m_shown)
        show(true);
}

std::string TerminalProgress::line(const std::string& label, std::uint64_t done,
                                   std::uint64_t total, double seconds)
{
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    const QJsonValue left =
        rate > 0 && total >= done ? QJsonValue(double(total - done) / rate) : QJsonValue();
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3.0f%%",
                  total ? 100.0 * double(done) / double(total) : 100.0);
    return label + "  " + percent + "  " + CliFormat::size(double(done)) + " of " +
           CliFormat::size(double(total)) + "  " +
           CliFormat::rate(rate > 0 ? QJsonValue(rate) : QJsonValue()) + "  " +
           CliFormat::duration(left) + " left";
}

void TerminalProgress::show(bool last)
{
    m_lastShown = Clock::now();
    if (!m_terminal)
        return;
    const double seconds = std::chrono::duration<double>(m_lastShown - m_start).count();
    std::fprintf(m_stream, "\r%s\033[K%s", line(m_label, m_done, m_total, seconds).c_str(),
                 last ? "\n" : "");
    std::fflush(m_stream);
    m_shown = true;
}
