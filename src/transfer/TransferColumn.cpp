#include "transfer/TransferColumn.h"

#include "exchange/CExchange.h"

TransferColumn::Rates TransferColumn::sumOf(const std::vector<const CExchange*>& exchanges)
{
    Rates rates;
    for (const CExchange* e : exchanges) {
        rates.received += e->receiveRate();
        rates.sent += e->sendRate();
    }
    return rates;
}
