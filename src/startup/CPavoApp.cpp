#include "startup/CPavoApp.h"

#include "app/CMultiCheck.h"
#include "app/CPropatyHotLine.h"
#include "app/CommandLine.h"
#include "app/PartyKeyCommand.h"
#include "control/ControlCli.h"
#include "node/PavoNode.h"
#include "platform/Diag.h"
#include "platform/EventLoop.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Prompt.h"
#include "platform/SignalWatcher.h"
#include "platform/TcpSocket.h"
#include "ui/MainWindowRunner.h"
#include "ui/QtPromptHandler.h"
#include "ui/Translations.h"

#include <QApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kProbePort = 42123;
const char* const kSecondStartText = "    ２重起動です。処理を中止します    ";
// The instance guard's lock file has no private folder to live in.
const char* const kNoLockFolderText =
    "起動の重複を確かめるロックファイルを作れないため、処理を中止します: ";
} // namespace

// Without a display the node runs on Qt's offscreen platform: nothing ever waits for a click.
bool CPavoApp::chooseHeadless()
{
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        return std::string(platform) == "offscreen" || std::string(platform) == "minimal";
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 && *x11) || (wayland && *wayland))
        return false;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::fprintf(stderr, "pavo: no display found; running headless\n");
    return true;
}

// In debug mode the terminal keeps every diagnostic line and the interrupt keys do not end the
// program; otherwise the lines go to the null device.
void CPavoApp::setupDiagnostics(bool debug)
{
    if (debug) {
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGQUIT, SIG_IGN);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
        return;
    }
    if (!std::freopen("/dev/null", "w", stdout))
        std::fprintf(stderr, "pavo: cannot silence diagnostics\n");
    if (!std::freopen("/dev/null", "r", stdin))
        std::fprintf(stderr, "pavo: cannot detach standard input\n");
}

// "--user-folder": the desktop entry and the user service start the node in the user's data
// folder, since a program started from a menu has no meaningful current folder.
bool CPavoApp::enterUserFolder()
{
    const std::string folder = CommandLine::userFolderPath();
    if (folder.empty() || !plat::makePrivateFolders(folder) || ::chdir(folder.c_str()) != 0) {
        std::fprintf(stderr, "pavo: cannot use the working folder '%s': %s\n", folder.c_str(),
                     folder.empty() ? "neither XDG_DATA_HOME nor HOME is set"
                                    : std::strerror(errno));
        return false;
    }
    return true;
}

// The working folder holds what the party shares and the settings: other local users should
// not read it. A folder the node made is private already; one that was there is left as its
// owner set it, with one line saying so.
void CPavoApp::warnIfFolderOpen()
{
    struct stat st = {};
    if (::stat(".", &st) != 0 || (st.st_mode & 077) == 0)
        return;
    const std::string folder = plat::currentFolder();
    std::fprintf(stderr,
                 "pavo: the working folder %s is open to other users (mode %03o); "
                 "'chmod 700 %s' keeps the party's files private\n",
                 folder.c_str(), static_cast<unsigned>(st.st_mode & 0777), folder.c_str());
}

// A short listen on the probe port, closed at once; the outcome is not examined.
void CPavoApp::probePort()
{
    plat::TcpSocket probe;
    int error = 0;
    if (probe.createListening(kProbePort, &error) && probe.setReuseAddress(&error))
        probe.listen(5, &error);
    probe.close();
}

// "pavo status", "pavo ls", ...: a command for the node that runs, in the user's language.
int CPavoApp::runCommand(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ui::installTranslations(application);
    std::signal(SIGPIPE, SIG_IGN);
    return ControlCli::run(std::vector<std::string>(argv + 1, argv + argc),
                           [](const std::string& text) { return ui::tr(text).toStdString(); });
}

int CPavoApp::run(int argc, char** argv)
{
    if (argc > 1 && ControlCli::isCommand(argv[1]))
        return runCommand(argc, argv);
    // The command line is read before anything else, so that asking for help or the version, or
    // a wrong option, creates no file, takes no lock and needs no display.
    const CommandLine::Result command =
        CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
    case CommandLine::Action::Help:
        std::fputs((CommandLine::helpText() + ControlCli::commandsHelp()).c_str(), stdout);
        return 0;
    case CommandLine::Action::Version:
        std::fputs(CommandLine::versionText().c_str(), stdout);
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "pavo: %s\n%s\n", command.error.c_str(),
                     CommandLine::usageLine().c_str());
        return CommandLine::kUsageStatus;
    case CommandLine::Action::Run:
    case CommandLine::Action::SetPartyKey:
    case CommandLine::Action::NewPartyKey:
        break;
    }
    if (command.userFolder && !enterUserFolder())
        return 1;
    // Setting the party key starts no node: headless nodes, the service unit and tests use it.
    if (command.action == CommandLine::Action::SetPartyKey) {
        QCoreApplication application(argc, argv);
        return PartyKeyCommand::run(stdin, std::filesystem::current_path().string());
    }
    if (command.action == CommandLine::Action::NewPartyKey) {
        QCoreApplication application(argc, argv);
        return PartyKeyCommand::runNew(stdout, std::filesystem::current_path().string());
    }
    const bool headless = chooseHeadless();
    QApplication application(argc, argv);
    // Ties the windows to the installed menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.pavo.Pavo"));
    ui::installTranslations(application);
    std::signal(SIGPIPE, SIG_IGN);
    // A stopping signal that arrives before the main window watches for it waits until then,
    // so it still ends the node through the orderly shutdown.
    plat::SignalWatcher::block({SIGTERM, SIGHUP, SIGINT});
    QtPromptHandler dialogs;
    if (!headless)
        plat::setPromptHandler(&dialogs);

    plat::IniFile ini(getIniFileName());
    if (!CMultiCheck::instance().check(ini.getString("SYSTEM", "PARTY", "", 260))) {
        // "Already running" only when another process holds the name; otherwise the real reason.
        const std::string& failure = CMultiCheck::instance().failure();
        plat::showMessage(failure.empty() ? std::string(kSecondStartText)
                                          : std::string(kNoLockFolderText) + failure,
                          plat::Icon::Error);
        return 1;
    }
    const NodeOptions& options = command.options;
    warnIfFolderOpen();
    setupDiagnostics(options.debug);
    for (const std::string& line : CommandLine::modeLines(options))
        plat::diag("%s", line.c_str());
    if (!options.clientOnly)
        probePort();

    int status = 0;
    {
        // The node first, then the window that shows it; the window's end shuts the node down.
        PavoNode node(plat::currentFolder(), options);
        status = MainWindowRunner::run(node, headless);
    }

    if (options.debug) {
        std::fflush(stdout);
        plat::runFor(plat::scaledMs(1000));
    }
    plat::setPromptHandler(nullptr);
    return status;
}
