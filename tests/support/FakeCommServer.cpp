#include "support/FakeCommServer.h"

namespace kavelo::test {

FakeCommServer::FakeCommServer(QObject* parent)
    : transfer::CommServer(parent)
{
}

void FakeCommServer::setListening(bool value)
{
    listeningWrites << value;
    if (!confirmWrites) {
        return;
    }
    listening = value;
    if (value) {
        Q_EMIT ListenStarted();
    } else {
        Q_EMIT ListenStopped(QVariant());
    }
}

qint16 FakeCommServer::CountUsbPorts(qint32 request)
{
    countRequests << request;
    return usbPortCount;
}

bool FakeCommServer::ChooseUsbPort()
{
    ++chooseCalls;
    return choosePortResult;
}

void FakeCommServer::raiseTransfer(qint16 kind, const QString& name, int terminal)
{
    terminalNo = terminal;
    Q_EMIT TransferStatus(kind, name, QVariant(), QVariant());
}

void FakeCommServer::raiseUploadFailed(const QString& name, const platform::Status& why, int terminal)
{
    raiseTransfer(wire::kSavingFailed, name, terminal);
    Q_EMIT UploadFailed(name, why);
}

std::optional<wire::TransferOutcome> FakeCommServer::raiseSaved(const QString& name, int terminal)
{
    terminalNo = terminal;
    const bool handled = hasHandling();
    wire::TransferOutcome outcome = handleSaved(name, terminal);
    if (!handled) {
        return std::nullopt;
    }
    return outcome;
}

} // namespace kavelo::test
