// skype-standin: a stand-in for the desktop messaging client. It serves the users of a config
// file at their endpoints and relays application streams between them, also across stand-ins
// linked over TCP (--listen on one, --join on the others).

#include "platform/SignalWatcher.h"

#include "NetLinks.h"
#include "Network.h"
#include "Site.h"
#include "StandinConfig.h"
#include "StandinLog.h"
#include "platform/NamedLock.h"

#include <QCoreApplication>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>

namespace {

struct Options
{
    std::string config;
    std::string listenHost;
    int listenPort = -1;
    std::string joinHost;
    int joinPort = -1;
    bool log = false;
};

int usage()
{
    std::fprintf(stderr, "usage: skype-standin --config FILE [--listen ADDRESS:PORT | --join "
                         "HOST:PORT] [--log]\n");
    return 2;
}

// "HOST:PORT", "[v6-address]:PORT" or ":PORT" (every address).
bool hostPort(const std::string& text, std::string& host, int& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string digits = text.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    return ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() &&
           port >= 0 && port <= 65535;
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log") {
            o.log = true;
        } else if (arg == "--config" && hasValue) {
            o.config = argv[++i];
        } else if (arg == "--listen" && hasValue) {
            if (!hostPort(argv[++i], o.listenHost, o.listenPort))
                return false;
        } else if (arg == "--join" && hasValue) {
            if (!hostPort(argv[++i], o.joinHost, o.joinPort) || o.joinPort == 0 ||
                o.joinHost.empty())
                return false;
        } else {
            return false;
        }
    }
    return !o.config.empty() && !(o.listenPort >= 0 && o.joinPort >= 0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseArgs(argc, argv, options))
        return usage();
    StandinLog::enable(options.log);

    StandinConfig config;
    std::string error;
    if (!loadStandinConfig(options.config, plat::NamedLock::runtimeFolder(), config, error)) {
        std::fprintf(stderr, "skype-standin: %s\n", error.c_str());
        return 1;
    }

    Site site(config);
    if (!site.listen(error)) {
        std::fprintf(stderr, "skype-standin: %s\n", error.c_str());
        return 1;
    }

    Network network;
    std::unique_ptr<LocalLink> local;
    std::unique_ptr<NetServer> server;
    std::unique_ptr<NetClient> client;
    if (options.joinPort > 0) {
        client = std::make_unique<NetClient>(site, options.joinHost, quint16(options.joinPort));
        client->start();
    } else {
        local = std::make_unique<LocalLink>(site, network);
        local->start();
    }
    if (options.listenPort >= 0) {
        server = std::make_unique<NetServer>(network);
        if (!server->listen(options.listenHost, quint16(options.listenPort), error)) {
            std::fprintf(stderr, "skype-standin: %s\n", error.c_str());
            return 1;
        }
        std::printf("skype-standin: listening on port %u\n", unsigned(server->port()));
    }
    for (const auto& user : config.users)
        std::printf("skype-standin: serving %s at %s\n", user.id.c_str(),
                    user.runtimeFolder.c_str());
    std::printf("skype-standin: ready\n");
    std::fflush(stdout);

    // Ending through the loop closes the endpoints, which removes their socket files.
    plat::SignalWatcher stopper({SIGINT, SIGTERM, SIGHUP}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
