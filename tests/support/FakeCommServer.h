#ifndef KAVELO_TESTS_SUPPORT_FAKECOMMSERVER_H
#define KAVELO_TESTS_SUPPORT_FAKECOMMSERVER_H

#include "transfer/CommServer.h"

#include <QList>

namespace kavelo::test {

// A scriptable communication server for unit tests of the handlers: properties and method results are set by the
// test, writes of Listening are recorded, and events are raised on demand.
class FakeCommServer : public transfer::CommServer
{
    Q_OBJECT

  public:
    explicit FakeCommServer(QObject* parent = nullptr);

    int TerminalNo() const override { return terminalNo; }
    int PortKind() const override { return portKind; }
    QString IPAddress() const override { return ipAddress; }
    int PortNo() const override { return portNo; }
    bool Listening() const override { return listening; }
    // Records the write; with `confirmWrites` the value changes and ListenStarted / ListenStopped is raised.
    void setListening(bool value) override;
    qint16 CountUsbPorts(qint32 request) override;
    bool ChooseUsbPort() override;

    // Raises TransferStatus as the terminal `terminal` (TerminalNo during the event).
    void raiseTransfer(qint16 kind, const QString& name, int terminal);
    // Raises kind 3 and hands the file to the saved-file handling, as the built-in server does; its outcome, or
    // nothing when no handling is set.
    std::optional<wire::TransferOutcome> raiseSaved(const QString& name, int terminal);
    // Raises kind 4 and then why the file was not saved, as the built-in server does.
    void raiseUploadFailed(const QString& name, const platform::Status& why, int terminal);
    // Whether a saved-file handling has been set.
    bool hasHandling() const { return savedFileHandling() != nullptr; }

    // Script.
    int terminalNo = 0;
    int portKind = wire::kPortIp;
    QString ipAddress = QStringLiteral("127.0.0.1");
    int portNo = 47100;
    bool listening = false;
    bool confirmWrites = true;
    qint16 usbPortCount = 0;
    bool choosePortResult = true;

    // Record.
    QList<bool> listeningWrites;
    QList<qint32> countRequests;
    int chooseCalls = 0;
};

} // namespace kavelo::test

#endif
