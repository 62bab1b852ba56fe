#include "transfer/CSkypeColumn.h"

void CSkypeColumn::initialise(plat::WindowHandle) {}

void CSkypeColumn::terminate() {}

int CSkypeColumn::isConnected(int)
{
    return 0;
}

int CSkypeColumn::canConnect(int)
{
    return 0;
}

void CSkypeColumn::connectPeer(int) {}

void CSkypeColumn::disconnectPeer(int) {}

void CSkypeColumn::requestHello(int, int, const plat::SystemTime&) {}

void CSkypeColumn::changePartyName(const std::string&) {}
