#include "platform/NotifierDisposal.h"

#include <QObject>
#include <QSocketNotifier>

namespace plat {

void NotifierDisposal::discard(QSocketNotifier*& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    QObject::disconnect(notifier, nullptr, nullptr, nullptr);
    if (m_depth > 0)
        notifier->deleteLater();
    else
        delete notifier;
    notifier = nullptr;
}

} // namespace plat
