// pavo-messenger: the messaging client a Pavo node drives through its endpoint. It serves one
// account of an XMPP server (--config) or, as a test fixture, several local users who meet
// inside this process (--local).

#include "platform/SignalWatcher.h"

#include "LocalConfig.h"
#include "LocalLink.h"
#include "LocalNetwork.h"
#include "MessengerLog.h"
#include "Site.h"
#include "platform/NamedLock.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <string>

namespace {

struct Options
{
    std::string local;
    bool log = false;
};

int usage()
{
    std::fprintf(stderr, "usage: pavo-messenger --local USERS-FILE [--log]\n");
    return 2;
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log")
            o.log = true;
        else if (arg == "--local" && hasValue)
            o.local = argv[++i];
        else
            return false;
    }
    return !o.local.empty();
}

int fail(const std::string& error)
{
    std::fprintf(stderr, "pavo-messenger: %s\n", error.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseArgs(argc, argv, options))
        return usage();
    MessengerLog::enable(options.log);

    LocalConfig config;
    std::string error;
    if (!loadLocalConfig(options.local, plat::NamedLock::runtimeFolder(), config, error))
        return fail(error);
    Site site(config);
    if (!site.listen(error))
        return fail(error);
    LocalNetwork network;
    LocalLink local(site, network);
    local.start();

    for (const auto& user : config.users)
        std::printf("pavo-messenger: serving %s at %s\n", user.id.c_str(),
                    user.runtimeFolder.c_str());
    std::printf("pavo-messenger: ready\n");
    std::fflush(stdout);

    // Ending through the loop closes the endpoints, which removes their socket files.
    plat::SignalWatcher stopper({SIGINT, SIGTERM, SIGHUP}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}
