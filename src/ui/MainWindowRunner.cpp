#include "ui/MainWindowRunner.h"

#include "app/CPropatyHotLine.h"
#include "app/ModeFlags.h"
#include "platform/Diag.h"
#include "platform/IniFile.h"
#include "platform/SignalWatcher.h"
#include "ui/StartWindow.h"

#include <QApplication>

#include <csignal>

int MainWindowRunner::run(bool headless)
{
    (void)headless;
    plat::IniFile ini(getIniFileName());
    StartWindow window(QString::fromStdString(ini.getString("SYSTEM", "PARTY", "")),
                       QString::fromStdString(ini.getString("SYSTEM", "NAME", "")));

    // SIGTERM and SIGHUP (and SIGINT outside debug mode) close the window the orderly way.
    plat::SignalWatcher stopper(debugMode ? std::initializer_list<int>{SIGTERM, SIGHUP}
                                          : std::initializer_list<int>{SIGTERM, SIGHUP, SIGINT},
                                [&window](int signo) {
                                    plat::diag("signal %d: shutting down\n", signo);
                                    window.close();
                                    QApplication::quit();
                                });
    window.show();
    return QApplication::exec();
}
