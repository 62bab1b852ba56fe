#include "ui/MainWindowRunner.h"

#include "ui/CPavoDlg.h"
#include "ui/QtFileDialogs.h"
#include "ui/SessionEvents.h"

#include <QApplication>

int MainWindowRunner::run(bool headless)
{
    // The window lives hidden in the notification area; hiding it, or closing a message box while
    // it is hidden, must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    if (!headless)
        ui::installFolderChooser();

    int status = 0;
    {
        CPavoDlg window(headless);
        QObject::connect(&window, &CPavoDlg::ended, qApp, [] { QCoreApplication::exit(0); });
        SessionEvents session(SessionEvents::Callbacks{
            [&window] { window.queryEndSession(); },
            [&window] {
                // A terminating signal or the end of the session: the log-off path.
                window.queryEndSession();
                window.endSession();
            },
            [&window] { window.suspend(); },
            [&window] { window.resume(); },
        });
        window.initialise();
        status = QApplication::exec();
        window.shutdown();
    }
    ui::removeFolderChooser();
    return status;
}
