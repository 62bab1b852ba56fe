// pavo-messenger: the messaging client a Pavo node drives through its endpoint. It serves one
// account of an XMPP server (--config) or, as a test fixture, several local users who meet
// inside this process (--local).

#include "platform/SignalWatcher.h"

#include "AccountConfig.h"
#include "LocalConfig.h"
#include "LocalLink.h"
#include "LocalNetwork.h"
#include "MessengerLog.h"
#include "PasswordSource.h"
#include "Site.h"
#include "XmppHub.h"
#include "platform/NamedLock.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace {

struct Options
{
    std::string config;
    std::string local;
    bool storePassword = false;
    bool log = false;
};

int usage()
{
    std::fprintf(stderr, "usage: pavo-messenger --config FILE [--log]\n"
                         "       pavo-messenger --config FILE --store-password   (reads it from "
                         "standard input)\n"
                         "       pavo-messenger --local USERS-FILE [--log]       (test fixture)\n");
    return 2;
}

bool parseArgs(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--log")
            o.log = true;
        else if (arg == "--store-password")
            o.storePassword = true;
        else if (arg == "--config" && hasValue)
            o.config = argv[++i];
        else if (arg == "--local" && hasValue)
            o.local = argv[++i];
        else
            return false;
    }
    return o.config.empty() != o.local.empty() && !(o.storePassword && o.config.empty());
}

int fail(const std::string& error)
{
    std::fprintf(stderr, "pavo-messenger: %s\n", error.c_str());
    return 1;
}

void announce(const std::vector<UserConfig>& users)
{
    for (const auto& user : users)
        std::printf("pavo-messenger: serving %s at %s\n", user.id.c_str(),
                    user.runtimeFolder.c_str());
    std::printf("pavo-messenger: ready\n");
    std::fflush(stdout);
}

int runLocal(QCoreApplication& app, const Options& options)
{
    LocalConfig config;
    std::string error;
    if (!loadLocalConfig(options.local, plat::NamedLock::runtimeFolder(), config, error))
        return fail(error);
    Site site(config.users);
    if (!site.listen(error))
        return fail(error);
    LocalNetwork network;
    LocalLink local(site, network);
    local.start();
    announce(config.users);
    // Ending through the loop closes the endpoints, which removes their socket files.
    plat::SignalWatcher stopper({SIGINT, SIGTERM, SIGHUP}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}

XmppConnection::PasswordFetch passwordFetch(const AccountConfig& account)
{
    if (account.passwordInKeyring)
        return
            [jid = account.jid](auto done) { PasswordSource::readKeyring(jid, std::move(done)); };
    return [path = account.passwordFile](auto done) {
        std::string password;
        std::string error;
        const bool ok = PasswordSource::readFile(path, password, error);
        done(ok, password, error);
    };
}

int runAccount(QCoreApplication& app, const Options& options)
{
    AccountConfig account;
    std::string error;
    if (!loadAccountConfig(options.config, plat::NamedLock::runtimeFolder(), account, error))
        return fail(error);
    if (options.storePassword) {
        std::string password;
        std::getline(std::cin, password);
        if (password.empty())
            return fail("no password on standard input");
        if (!PasswordSource::storeKeyring(account.jid, password, error))
            return fail("the secret service did not store the password: " + error);
        std::printf("pavo-messenger: password for %s stored\n", account.jid.c_str());
        return 0;
    }
    if (!account.passwordInKeyring) {
        // A file others can read is refused at once, not only at the first log-in.
        std::string password;
        if (!PasswordSource::readFile(account.passwordFile, password, error))
            return fail(error);
    }
    UserConfig user;
    user.id = account.jid;
    user.runtimeFolder = account.runtimeFolder;
    user.presence = account.presence;
    user.attach = AttachAnswer::Unavailable; // until logged in
    user.contactsFromHub = true;
    Site site({user});
    if (!site.listen(error))
        return fail(error);
    XmppHub hub(site, account, passwordFetch(account));
    hub.start();
    announce({user});
    plat::SignalWatcher stopper({SIGINT, SIGTERM, SIGHUP}, [](int) { QCoreApplication::quit(); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // A closed socket is seen as an error on the write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    Options options;
    if (!parseArgs(argc, argv, options))
        return usage();
    MessengerLog::enable(options.log);
    return options.local.empty() ? runAccount(app, options) : runLocal(app, options);
}
