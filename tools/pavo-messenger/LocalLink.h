#pragma once

#include "LocalNetwork.h"
#include "Site.h"

#include <QObject>

#include <string>

// The link between the site and the in-process network of the local test mode. It delivers on
// a later turn of the loop and in order, so no request's effect reaches a program before the
// result of the command that caused it.
class LocalLink
{
public:
    LocalLink(Site& site, LocalNetwork& network);
    void start();

private:
    struct ToNetwork : HubLink
    {
        LocalLink* owner;
        void send(const HubMsg& msg) override;
    };
    struct ToSite : SiteLink
    {
        LocalLink* owner;
        void send(const HubMsg& msg) override;
        std::string linkName() const override { return "local"; }
    };

    Site& site_;
    LocalNetwork& network_;
    QObject context_;
    ToNetwork toNetwork_;
    ToSite toSite_;
};
