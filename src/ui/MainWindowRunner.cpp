#include "ui/MainWindowRunner.h"

#include "node/PavoNode.h"
#include "platform/SignalWatcher.h"
#include "ui/CPavoDlg.h"
#include "ui/SessionEvents.h"
#include "uikit/QtFileDialogs.h"

#include <QApplication>
#include <QTimer>

#include <csignal>

int MainWindowRunner::run(PavoNode& node, bool headless)
{
    // The window lives hidden in the notification area; hiding it, or closing a message box while
    // it is hidden, must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!headless)
        ui::installFolderChooser();

    // Watching the signals starts before the window is built, so that a SIGTERM arriving while
    // the node starts up still takes the orderly path (it is handled once the loop runs).
    CPavoDlg* current = nullptr;
    SessionEvents session(SessionEvents::Callbacks{
                              [&current] {
                                  if (current)
                                      current->queryEndSession();
                              },
                              [&current] {
                                  // A terminating signal or the end of the session: the log-off
                                  // path.
                                  if (current)
                                      current->endSession();
                              },
                              [&current] {
                                  if (current)
                                      current->suspend();
                              },
                              [&current] {
                                  if (current)
                                      current->resume();
                              },
                          },
                          // In debug mode the interrupt key leaves the node running.
                          !node.options().debug);

    plat::SignalWatcher::unblock({SIGTERM, SIGHUP, SIGINT});

    int status = 0;
    {
        CPavoDlg window(node, headless);
        QObject::connect(&window, &CPavoDlg::ended, qApp, [] { QCoreApplication::exit(0); });
        current = &window;
        window.initialise();
        // From the loop, so the window is on screen before the first-start dialog opens over it.
        QTimer::singleShot(0, &window, &CPavoDlg::firstStartGuide);
        status = QApplication::exec();
        window.shutdown();
        current = nullptr;
    }
    ui::removeFolderChooser();
    return status;
}
