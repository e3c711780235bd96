#ifndef KAVELO_WIRE_OCCUPANT_H
#define KAVELO_WIRE_OCCUPANT_H

#include <QDateTime>
#include <QString>

namespace kavelo::wire {

// How terminals reach the server.
enum class Transport
{
    Ip,      // protocol v1 over TCP
    UsbLine, // protocol v1 over a USB communication unit's virtual COM port
    ComLine, // protocol v1 over a COM port
    Https,   // the HTTPS API
};

// The PortKind value of a transport: 3 IP (TCP and HTTPS), 2 USB virtual COM port, 1 COM port.
int portKindOf(Transport transport);
// "ip", "usb", "com" or "https".
QString transportName(Transport transport);

// Whatever holds one of the server's places for a terminal: a protocol v1 session, or a terminal's HTTPS requests
// in flight. Called on the event loop's thread.
class Occupant
{
  public:
    virtual ~Occupant() = default;

    virtual int terminalNo() const = 0;
    virtual Transport transport() const = 0;
    virtual QString peer() const = 0;
    virtual QDateTime since() const = 0;
    // What it is doing, in a few words ("receiving S_HACH.dat").
    virtual QString activity() const = 0;
    // "terminal 3 (192.168.10.21:50344)".
    virtual QString describe() const = 0;

    // It waited, and now has its place.
    virtual void admit() = 0;
    // It is ended for a reason of the server's (the terminal connected again, its key changed).
    virtual void end(const QString& reason) = 0;
};

} // namespace kavelo::wire

#endif
