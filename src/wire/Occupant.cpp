#include "wire/Occupant.h"

#include "wire/TransferKind.h"

namespace kavelo::wire {

int portKindOf(Transport transport)
{
    switch (transport) {
    case Transport::UsbLine:
        return kPortUsbVirtualCom;
    case Transport::ComLine:
        return kPortCom;
    case Transport::Ip:
    case Transport::Https:
        break;
    }
    return kPortIp;
}

QString transportName(Transport transport)
{
    switch (transport) {
    case Transport::UsbLine:
        return QStringLiteral("usb");
    case Transport::ComLine:
        return QStringLiteral("com");
    case Transport::Https:
        return QStringLiteral("https");
    case Transport::Ip:
        break;
    }
    return QStringLiteral("ip");
}

} // namespace kavelo::wire
