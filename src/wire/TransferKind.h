#ifndef KAVELO_WIRE_TRANSFERKIND_H
#define KAVELO_WIRE_TRANSFERKIND_H

#include <QtGlobal>

namespace kavelo::wire {

// What a transfer event reports (first argument of TransferStatus).
enum TransferKindValue : qint16
{
    kSending = 0,
    kReceiving = 1,
    kSaving = 2,
    kSaved = 3,
    kSavingFailed = 4,
    kUnpackingLog = 5,
};

// Connection kinds of PortKind.
enum PortKindValue : int
{
    kPortCom = 1,
    kPortUsbVirtualCom = 2,
    kPortIp = 3,
    kPortIpAlternative = 10,
};

} // namespace kavelo::wire

#endif
