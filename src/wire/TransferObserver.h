#ifndef KAVELO_WIRE_TRANSFEROBSERVER_H
#define KAVELO_WIRE_TRANSFEROBSERVER_H

#include "platform/Status.h"

#include <QString>

namespace kavelo::wire {

// What the server tells whoever keeps account of its work (the status page): direct calls on the event loop's
// thread, after the fact. Terminal 0 is a connection that never said a valid HELLO.
class TransferObserver
{
  public:
    virtual ~TransferObserver() = default;

    virtual void sessionStarted(int terminalNo, const QString& transport, const QString& peer) = 0;
    // An upload came to its end: saved and handled (ok), or not (the reason).
    virtual void uploadFinished(int terminalNo, const QString& name, qint64 bytes, const platform::Status& outcome) = 0;
    // A GET sent its END: `files` masters of `bytes` bytes, `wireBytes` of them on the wire.
    virtual void getFinished(int terminalNo, int files, qint64 bytes, qint64 wireBytes) = 0;
    // The terminal was told a failure (protocol v1's ERR, an HTTP error status): its detail() is what it was told
    // ("ERR crc32 mismatch", "HTTP 507 cannot store the file: ...").
    virtual void sessionFailed(int terminalNo, const platform::Status& told) = 0;
};

} // namespace kavelo::wire

#endif
