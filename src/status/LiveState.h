#ifndef KAVELO_STATUS_LIVESTATE_H
#define KAVELO_STATUS_LIVESTATE_H

#include "jobs/RunnerState.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace kavelo::status {

// A session open now.
struct SessionView
{
    int terminal = 0;  // 0: not past HELLO yet
    QString transport; // "ip", "usb", "com"
    QString peer;      // address:port, or the line's device
    QDateTime since;
    QString activity; // "receiving S_HACH.dat", "idle", ...
};

struct SerialView
{
    QString port;
    QString kind; // "usb" or "com"
    bool open = false;
    QString problem; // why it is not open; empty while open
};

struct HttpsView
{
    int port = 0;
    bool serving = false;
    QString problem;     // why it does not serve, while it is tried again
    QString fingerprint; // the certificate's SHA-256, 64 hex digits
};

// An enrolled terminal's key.
struct KeyView
{
    int terminal = 0;
    QDateTime enrolledAt;
    QDateTime lastUsed; // invalid: not since it was enrolled
    QString protocol;   // "https" or "v1"
};

struct HeldOffView
{
    QString address;
    QDateTime until;
};

// What the service is doing at this moment, read when a page is asked for.
struct LiveState
{
    QString version;
    QDateTime startedAt;
    QString programFolder;
    bool listening = false;
    QString ipAddress;
    int ipPort = 0;
    bool ipBound = false; // the address is bound (it may be waiting to be)
    QString ipProblem;    // why it is not bound, while it is tried again
    std::optional<SerialView> serial;
    std::vector<SessionView> sessions;
    jobs::RunnerState work;    // the poll and the host import, running or waiting
    qint64 diskFreeBytes = -1; // of the program folder's file system, for KAVELO's user; -1: unknown
    qint64 diskSizeBytes = -1;
    qint64 minFreeBytes = 0;        // MinFreeBytes: uploads that would leave less free are refused; 0: no check
    bool refusingUploads = false;   // the last upload was refused for it
    qint64 uploadAlertSeconds = 0;  // UploadAlertHours: how long a terminal may stay silent; 0: never alerted
    std::optional<HttpsView> https; // none when HttpsPort is 0
    std::vector<KeyView> keys;
    QString keysProblem; // the key file could not be read (the keys read before stay in force)
    std::vector<HeldOffView> heldOff;
    qint64 authFailures = 0; // wrong keys since start-up
};

// ISO 8601 with the local offset ("2026-12-08T18:05:09+09:00").
QString isoTime(const QDateTime& at);

} // namespace kavelo::status

#endif
