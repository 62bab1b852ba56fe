#include "LocalLink.h"

#include "MessengerLog.h"

#include <QCoreApplication>

namespace {
void logMsg(std::string_view who, std::string_view dir, const HubMsg& msg)
{
    if (!MessengerLog::enabled())
        return;
    std::string text(1, char(msg.type));
    for (const auto& f : msg.fields)
        text += " " + f;
    MessengerLog::line(who, dir, text);
}
} // namespace

LocalLink::LocalLink(Site& site, LocalNetwork& network) : site_(site), network_(network)
{
    toNetwork_.owner = this;
    toSite_.owner = this;
}

void LocalLink::start()
{
    network_.join(&toSite_);
    site_.hubUp(&toNetwork_);
}

void LocalLink::ToNetwork::send(const HubMsg& msg)
{
    logMsg("local", "->", msg);
    QMetaObject::invokeMethod(
        &owner->context_, [o = owner, msg] { o->network_.receive(&o->toSite_, msg); },
        Qt::QueuedConnection);
}

void LocalLink::ToSite::send(const HubMsg& msg)
{
    logMsg("local", "<-", msg);
    QMetaObject::invokeMethod(
        &owner->context_, [o = owner, msg] { o->site_.fromHub(msg); }, Qt::QueuedConnection);
}
