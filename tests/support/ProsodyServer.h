#pragma once

#include <QProcess>

#include <string>

// A real Prosody XMPP server for one test, run as the test's own child process: on 127.0.0.1
// at free ports (STARTTLS and direct TLS), for the domain "localhost", with a config and a
// self-signed certificate generated in a scratch folder that also holds its data, pid and log.
// It runs as whatever user runs the test (root in CI). Stopped when the object goes; it can be
// stopped and started again with its accounts and rosters kept.
class ProsodyServer
{
public:
    explicit ProsodyServer(std::string folder);
    ~ProsodyServer();
    ProsodyServer(const ProsodyServer&) = delete;
    ProsodyServer& operator=(const ProsodyServer&) = delete;

    // Writes certificate and config on the first call; waits until the server takes clients.
    bool start();
    // SIGTERM: the server closes its client streams and ends.
    void stop();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Lines added to the config's global section; only before the first start.
    void addConfig(const std::string& lines) { extra_ += lines; }
    // A module to load besides the usual ones; only before the first start.
    void addModule(const std::string& name);
    // Records every stanza one client sends toward another (or its account) into relayedFile(),
    // as the server holds it; only before the first start.
    void recordRelayed();
    std::string relayedFile() const { return folder_ + "/relayed.xml"; }
    // prosodyctl register, against this server's config.
    bool addAccount(const std::string& user, const std::string& password);

    static constexpr const char* Domain = "localhost";
    int port() const { return port_; }
    int directTlsPort() const { return directTlsPort_; }
    // The self-signed certificate, to name as the client's CA file.
    std::string caFile() const { return folder_ + "/localhost.crt"; }
    std::string log() const;
    qint64 pid() const { return process_.processId(); }

private:
    bool prepare();

    std::string folder_;
    std::string config_;
    int port_ = 0;
    int directTlsPort_ = 0;
    std::string extra_;
    std::string modules_;
    bool prepared_ = false;
    QProcess process_;
};
