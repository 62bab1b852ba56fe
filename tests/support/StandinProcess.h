#pragma once

#include "skype/ClientWire.h"

#include <QProcess>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The messaging client (tools/pavo-messenger) in its local mode, serving the users of a users
// file inside one process, run as the real program for a test.
// Stopped with SIGTERM when the object goes; it can be stopped and started again.
class StandinProcess
{
public:
    explicit StandinProcess(std::string configPath, std::vector<std::string> extraArgs = {});
    // The client serving the XMPP account of an account config (--config) instead.
    static std::unique_ptr<StandinProcess> account(std::string configPath);
    ~StandinProcess();
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    // Starts the program and waits until every endpoint listens.
    bool start();
    void stop();
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    static std::string binary();

    // Waits until what the program wrote (standard output and error) contains text.
    bool waitForOutput(const std::string& text, int timeoutMs);
    const std::string& output();
    int exitCode();

private:
    std::string m_config;
    std::vector<std::string> m_args;
    std::string m_mode = "--local";
    std::string m_output;
    QProcess m_process;
};

// One user's program speaking the client endpoint directly, for playing the peer of the node
// under test. Commands block until their result; notifications are collected as they come and
// waited for with the event loop running, so a node in the same process keeps working.
class StandinClient
{
public:
    struct Reply
    {
        std::uint32_t result = 0xdeadu;
        std::vector<std::string> notes; // notifications before the result
        bool has(std::string_view text) const;
    };

    explicit StandinClient(const std::string& runtimeFolder);
    ~StandinClient();
    StandinClient(const StandinClient&) = delete;
    StandinClient& operator=(const StandinClient&) = delete;

    bool connected() const { return m_fd >= 0; }
    // Discover, then wait for attach status 0 (discovering again when told the client has
    // become available).
    bool attach();
    // Discover and return the first attach status.
    std::optional<std::uint32_t> discover();
    Reply command(const std::string& text);
    // Sends raw bytes as they are (for protocol abuse).
    void sendBytes(const std::vector<std::uint8_t>& bytes);

    // Reads whatever has arrived, without waiting.
    void pump();
    // Removes and returns the first notification collected so far that begins with prefix.
    std::optional<std::string> take(std::string_view prefix);
    // Runs the event loop until a notification beginning with prefix has come (then takes it).
    std::optional<std::string> waitFor(std::string_view prefix, int timeoutMs = 10000);
    std::vector<std::string> notes;

private:
    // One frame, waiting at most timeoutMs (0: no wait).
    std::optional<ClientWire::Frame> next(int timeoutMs, std::string& text);

    int m_fd = -1;
    std::vector<std::uint8_t> m_buffer;
};
