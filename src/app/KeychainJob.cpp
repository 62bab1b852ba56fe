#include "app/KeychainJob.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

bool runKeychainJob(QKeychain::Job& job)
{
    QEventLoop loop;
    bool done = false;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(kKeychainWaitMs, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    if (!done)
        loop.exec();
    return done && job.error() == QKeychain::NoError;
}
