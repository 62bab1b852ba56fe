#pragma once

#include "platform/EventLoop.h"
#include "platform/LocalTime.h"

#include <string>

// One transport as the transfer coordinator sees it: the operations on a configured connection,
// addressed by its index in the settings, plus the transport's own start and end. The coordinator
// picks the column by the connection's method text and never looks inside.
class TransferColumn
{
public:
    virtual ~TransferColumn() = default;

    // Creates the transport's objects and registers the coordinator with them.
    virtual void initialise(plat::WindowHandle mainWindow) = 0;
    // Destroys the transport's objects; a second call does nothing.
    virtual void terminate() = 0;

    virtual int isConnected(int index) = 0;
    virtual int canConnect(int index) = 0;
    virtual void connectPeer(int index) = 0;
    virtual void disconnectPeer(int index) = 0;
    virtual void requestHello(int index, int mode, const plat::SystemTime& date) = 0;

    virtual void changePartyName(const std::string& /*partyName*/) {}
};
