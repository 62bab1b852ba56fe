#include "support/ProsodyServer.h"

#include "support/MultiNode.h"

#include <QStringList>

#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWaitMs = 20000;

QStringList qargs(const std::vector<std::string>& args)
{
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    return list;
}

bool run(const char* program, const std::vector<std::string>& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QString::fromUtf8(program), qargs(args));
    if (!p.waitForFinished(kWaitMs) || p.exitStatus() != QProcess::NormalExit ||
        p.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", program, p.readAll().constData());
        return false;
    }
    return true;
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

} // namespace

ProsodyServer::ProsodyServer(std::string folder) : folder_(std::move(folder))
{
    config_ = folder_ + "/prosody.cfg.lua";
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.setStandardOutputFile(QString::fromStdString(folder_ + "/prosody.out"));
}

ProsodyServer::~ProsodyServer()
{
    stop();
}

bool ProsodyServer::prepare()
{
    std::filesystem::create_directories(folder_ + "/data");
    const std::string key = folder_ + "/localhost.key";
    if (!run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                         "/CN=localhost", "-addext", "subjectAltName=DNS:localhost", "-keyout", key,
                         "-out", caFile()}))
        return false;
    port_ = multi::freePort();
    do
        directTlsPort_ = multi::freePort();
    while (directTlsPort_ == port_);
    std::ofstream(config_) << "-- generated for one test\n"
                           << "pidfile = \"" << folder_ << "/prosody.pid\"\n"
                           << "data_path = \"" << folder_ << "/data\"\n"
                           << "certificates = \"" << folder_ << "\"\n"
                           << "run_as_root = true\n"
                           << "log = { info = \"" << folder_ << "/prosody.log\" }\n"
                           << "plugin_paths = { \"" << folder_ << "\" }\n"
                           << "modules_enabled = { \"roster\", \"saslauth\", \"tls\", "
                              "\"disco\", \"ping\", \"posix\""
                           << modules_ << " }\n"
                           << "modules_disabled = { \"s2s\" }\n"
                           << "interfaces = { \"127.0.0.1\" }\n"
                           << "c2s_ports = { " << port_ << " }\n"
                           << "c2s_direct_tls_ports = { " << directTlsPort_ << " }\n"
                           << "s2s_ports = { }\n"
                           << "c2s_require_encryption = true\n"
                           << "allow_unencrypted_plain_auth = false\n"
                           << "authentication = \"internal_hashed\"\n"
                           << "storage = \"internal\"\n"
                           << "ssl = { certificate = \"" << caFile() << "\", key = \"" << key
                           << "\" }\n"
                           << extra_ << "\nVirtualHost \"" << Domain << "\"\n";
    prepared_ = true;
    return true;
}

void ProsodyServer::addModule(const std::string& name)
{
    modules_ += ", \"" + name + "\"";
}

void ProsodyServer::recordRelayed()
{
    // Every stanza a client sends to another client's resource, as the server holds it, one per
    // line, before the server routes it.
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ + "/mod_pavo_record.lua")
        << "local f = assert(io.open(\"" << relayedFile() << "\", \"a\"))\n"
        << "local function record(event)\n"
        << "  f:write(tostring(event.stanza), \"\\n\")\n"
        << "  f:flush()\n"
        << "end\n"
        << "for _, kind in ipairs({ \"iq\", \"message\", \"presence\" }) do\n"
        << "  module:hook(\"pre-\" .. kind .. \"/full\", record, 1000)\n"
        << "  module:hook(\"pre-\" .. kind .. \"/bare\", record, 1000)\n"
        << "end\n";
    addModule("pavo_record");
}

bool ProsodyServer::start()
{
    if (running())
        return true;
    if (!prepared_ && !prepare())
        return false;
    process_.start(QStringLiteral("prosody"), qargs({"-F", "--config", config_}));
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < until) {
        if (process_.state() == QProcess::NotRunning)
            break;
        if (accepts(port_) && accepts(directTlsPort_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "prosody did not start:\n%s\n", log().c_str());
    return false;
}

void ProsodyServer::stop()
{
    if (!running())
        return;
    process_.terminate();
    if (!process_.waitForFinished(kWaitMs))
        process_.kill();
    process_.waitForFinished(kWaitMs);
}

bool ProsodyServer::addAccount(const std::string& user, const std::string& password)
{
    if (!prepared_ && !prepare())
        return false;
    return run("prosodyctl", {"--config", config_, "register", user, Domain, password});
}

std::string ProsodyServer::log() const
{
    std::string text;
    for (const char* name : {"/prosody.out", "/prosody.log"}) {
        std::ifstream in(folder_ + name);
        text.append(std::istreambuf_iterator<char>(in), {});
    }
    return text;
}
