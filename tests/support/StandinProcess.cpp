#include "support/StandinProcess.h"

#include "platform/EventLoop.h"

#include <QStringList>

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kWaitMs = 10000;
using Clock = std::chrono::steady_clock;

} // namespace

StandinProcess::StandinProcess(std::string configPath, std::vector<std::string> extraArgs)
    : m_config(std::move(configPath)), m_args(std::move(extraArgs))
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

std::unique_ptr<StandinProcess> StandinProcess::account(std::string configPath)
{
    auto p = std::make_unique<StandinProcess>(std::move(configPath));
    p->m_mode = "--config";
    p->m_process.setProcessChannelMode(QProcess::MergedChannels);
    return p;
}

bool StandinProcess::waitForOutput(const std::string& text, int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (output().find(text) != std::string::npos)
            return true;
        if (Clock::now() >= until || m_process.state() == QProcess::NotRunning)
            return output().find(text) != std::string::npos;
        m_process.waitForReadyRead(50);
    }
}

const std::string& StandinProcess::output()
{
    m_output += m_process.readAll().toStdString();
    return m_output;
}

int StandinProcess::exitCode()
{
    m_process.waitForFinished(kWaitMs);
    output();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

StandinProcess::~StandinProcess()
{
    stop();
}

std::string StandinProcess::binary()
{
    return PAVO_BIN_DIR "/pavo-messenger";
}

bool StandinProcess::start()
{
    QStringList list{QString::fromStdString(m_mode), QString::fromStdString(m_config)};
    for (const auto& a : m_args)
        list << QString::fromStdString(a);
    m_process.start(QString::fromStdString(binary()), list);
    const auto until = Clock::now() + std::chrono::milliseconds(kWaitMs);
    while (Clock::now() < until) {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine();
            m_output += line.toStdString();
            if (line.startsWith("pavo-messenger: ready"))
                return true;
        }
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
    }
    return false;
}

void StandinProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(kWaitMs))
        m_process.kill();
    m_process.waitForFinished(kWaitMs);
}

bool StandinClient::Reply::has(std::string_view text) const
{
    for (const auto& n : notes) {
        if (n == text)
            return true;
    }
    return false;
}

StandinClient::StandinClient(const std::string& runtimeFolder)
{
    const std::string path = ClientWire::endpointPath(runtimeFolder);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return;
    path.copy(addr.sun_path, path.size());
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

StandinClient::~StandinClient()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void StandinClient::sendBytes(const std::vector<std::uint8_t>& bytes)
{
    std::size_t at = 0;
    while (m_fd >= 0 && at < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        at += static_cast<std::size_t>(n);
    }
}

std::optional<ClientWire::Frame> StandinClient::next(int timeoutMs, std::string& text)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto r = ClientWire::parse(m_buffer);
        if (r.status == ClientWire::Parse::Bad)
            return std::nullopt;
        if (r.status == ClientWire::Parse::Complete) {
            ClientWire::Frame f = r.frame;
            text.assign(f.text);
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(r.size));
            f.text = {};
            return f;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        pollfd p{m_fd, POLLIN, 0};
        if (m_fd < 0 || ::poll(&p, 1, left > 0 ? int(left) : 0) <= 0)
            return std::nullopt;
        std::uint8_t chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return std::nullopt;
        m_buffer.insert(m_buffer.end(), chunk, chunk + n);
    }
}

bool StandinClient::attach()
{
    sendBytes(ClientWire::encodeDiscover());
    std::string text;
    while (auto f = next(kWaitMs, text)) {
        if (f->kind == ClientWire::Kind::Attach && f->status == ClientWire::AttachSuccess)
            return true;
        if (f->kind == ClientWire::Kind::Attach && f->status == ClientWire::AttachAvailable)
            sendBytes(ClientWire::encodeDiscover());
        if (f->kind == ClientWire::Kind::Notification)
            notes.push_back(text);
    }
    return false;
}

std::optional<std::uint32_t> StandinClient::discover()
{
    sendBytes(ClientWire::encodeDiscover());
    std::string text;
    while (auto f = next(kWaitMs, text)) {
        if (f->kind == ClientWire::Kind::Attach)
            return f->status;
        if (f->kind == ClientWire::Kind::Notification)
            notes.push_back(text);
    }
    return std::nullopt;
}

StandinClient::Reply StandinClient::command(const std::string& text)
{
    sendBytes(ClientWire::encodeText(ClientWire::Kind::Command, text));
    Reply reply;
    std::string note;
    while (auto f = next(kWaitMs, note)) {
        if (f->kind == ClientWire::Kind::Result) {
            reply.result = f->status;
            break;
        }
        if (f->kind == ClientWire::Kind::Notification) {
            reply.notes.push_back(note);
            notes.push_back(note);
        }
    }
    return reply;
}

void StandinClient::pump()
{
    std::string text;
    while (auto f = next(0, text)) {
        if (f->kind == ClientWire::Kind::Notification)
            notes.push_back(text);
    }
}

std::optional<std::string> StandinClient::take(std::string_view prefix)
{
    for (auto it = notes.begin(); it != notes.end(); ++it) {
        if (std::string_view(*it).substr(0, prefix.size()) == prefix) {
            std::string out = *it;
            notes.erase(it);
            return out;
        }
    }
    return std::nullopt;
}

std::optional<std::string> StandinClient::waitFor(std::string_view prefix, int timeoutMs)
{
    // In slices: this socket has no notifier, so nothing else would wake the loop for it.
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pump();
        if (auto found = take(prefix))
            return found;
        if (Clock::now() >= until)
            return std::nullopt;
        plat::runFor(5);
    }
}
