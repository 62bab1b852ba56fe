#include "app/CPavoApp.h"

#include "app/CMultiCheck.h"
#include "app/CPostError.h"
#include "app/CPropatyHotLine.h"
#include "app/ModeFlags.h"
#include "platform/Diag.h"
#include "platform/EventLoop.h"
#include "platform/IniFile.h"
#include "platform/Prompt.h"
#include "platform/SignalWatcher.h"
#include "platform/TcpSocket.h"
#include "ui/MainWindowRunner.h"
#include "ui/QtPromptHandler.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int kProbePort = 42123;
const char* const kSecondStartText = "    ２重起動です。処理を中止します    ";
// The instance guard's lock file has no private folder to live in.
const char* const kNoLockFolderText =
    "起動の重複を確かめるロックファイルを作れないため、処理を中止します: ";

struct Option
{
    const char* text;
    int* flag;
    int value;
};

const Option kOptions[] = {
    {"-D119", &debugMode, 1},
    {"-PASV", &pasvMode, 1},
    {"-SERVER", &serverOnlyMode, 1},
    {"-CLIENT", &clientOnlyMode, 1},
    {"-CATALOGCASH", &catalogCashMode, 1},
    {"-NOSKYPE", &skypeMode, 0},
};
} // namespace

void CPavoApp::applyOption(const std::string& argument)
{
    for (const Option& option : kOptions)
        if (argument == option.text)
            *option.flag = option.value;
}

std::vector<std::string> CPavoApp::modeLines()
{
    std::vector<std::string> lines;
    if (debugMode)
        lines.emplace_back("DEBUG_MODE ON\n");
    if (pasvMode)
        lines.emplace_back("PASV_MODE ON\n");
    if (serverOnlyMode)
        lines.emplace_back("SERVERONLY_MODE ON\n");
    if (clientOnlyMode)
        lines.emplace_back("CLIENTONLY_MODE ON\n");
    if (catalogCashMode)
        lines.emplace_back("CATALOGCASH_MODE ON\n");
    if (!skypeMode)
        lines.emplace_back("NO SKYPE MODE\n");
    return lines;
}

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
void CPavoApp::setupDiagnostics()
{
    if (debugMode) {
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

// A short listen on the probe port, closed at once; the outcome is not examined.
void CPavoApp::probePort()
{
    plat::TcpSocket probe;
    int error = 0;
    if (probe.createListening(kProbePort, &error) && probe.setReuseAddress(&error))
        probe.listen(5, &error);
    probe.close();
}

int CPavoApp::run(int argc, char** argv)
{
    const bool headless = chooseHeadless();
    QApplication application(argc, argv);
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
    for (int i = 1; i < argc; ++i)
        applyOption(argv[i]);
    setupDiagnostics();
    for (const std::string& line : modeLines())
        plat::diag("%s", line.c_str());
    if (!clientOnlyMode)
        probePort();

    const int status = MainWindowRunner::run(headless);

    if (debugMode) {
        std::fflush(stdout);
        plat::runFor(plat::scaledMs(1000));
    }
    CPostError::destroyInstance();
    plat::setPromptHandler(nullptr);
    return status;
}
