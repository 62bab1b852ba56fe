#pragma once

#include <cstdint>

// Receives the one private message of a CTcpWin: the owner's "process what was received".
class CTcpWinListener
{
public:
    virtual ~CTcpWinListener() = default;
    virtual void onTcpWinMessage(std::uintptr_t wparam, std::intptr_t lparam) = 0;
};
