#pragma once

#include "platform/EventLoop.h"
#include "platform/LocalTime.h"

#include <vector>

#include <string>

class CExchange;

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
    // File bytes per second received from and sent to connection index's peer just now (all its
    // streams together); zero when it is not connected.
    struct Rates
    {
        double received = 0;
        double sent = 0;
    };
    virtual Rates rates(int index) = 0;
    // The sum of the conversations' rates.
    static Rates sumOf(const std::vector<const CExchange*>& exchanges);

    virtual void changePartyName(const std::string& /*partyName*/) {}
};
