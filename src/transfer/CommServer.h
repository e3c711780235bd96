#ifndef KAVELO_TRANSFER_COMMSERVER_H
#define KAVELO_TRANSFER_COMMSERVER_H

#include "platform/Status.h"
#include "transfer/SavedFileHandling.h"
#include "wire/TransferKind.h"

#include <QObject>
#include <QString>
#include <QVariant>

namespace kavelo::transfer {

// The communication server the main window talks to: the properties, methods and events the system relies on,
// and nothing more. Events are signals; the server raises them on the window's thread. A saved file is raised as
// TransferStatus kind 3 like every other step, and then handed to the SavedFileHandling directly, which answers
// with its outcome; a handling that failed is raised as FilingFailed.
class CommServer : public QObject
{
    Q_OBJECT

  public:
    explicit CommServer(QObject* parent = nullptr)
        : QObject(parent)
    {
    }
    ~CommServer() override = default;

    // The terminal of the current transfer; valid during TransferStatus.
    virtual int TerminalNo() const = 0;
    virtual int PortKind() const = 0;
    virtual QString IPAddress() const = 0;
    virtual int PortNo() const = 0;

    virtual bool Listening() const = 0;
    // Asks for a change; the server confirms with ListenStarted or ListenStopped (or raises nothing on failure).
    virtual void setListening(bool listening) = 0;

    // Number of connectable USB ports; 0 means none. The argument is always 2048.
    virtual qint16 CountUsbPorts(qint32 request) = 0;
    // True when a port was chosen.
    virtual bool ChooseUsbPort() = 0;

    // Who files saved files; null: nobody (the terminal is answered OK and nothing is staged).
    void setSavedFileHandling(SavedFileHandling* handling) { m_handling = handling; }

  Q_SIGNALS:
    void ListenStarted();
    void TransferStatus(qint16 transferKind, const QString& fileName, const QVariant& unused1, const QVariant& unused2);
    void ListenStopped(const QVariant& unused);
    // The fourth event; it carries nothing and nothing is done with it.
    void NoArgumentEvent();
    // A saved file whose handling failed, and why (the handling has logged it); TerminalNo gives its terminal.
    void FilingFailed(const QString& fileName, const platform::Status& why);
    // Follows TransferStatus kind 4 (saving failed): why the file was not saved, as the terminal was told it.
    void UploadFailed(const QString& fileName, const platform::Status& why);

  protected:
    // Raises TransferStatus kind 3 for `name`, then asks the handling for its outcome (and raises FilingFailed when
    // it failed). TerminalNo must already give `terminalNo`.
    wire::TransferOutcome handleSaved(const QString& name, int terminalNo);
    SavedFileHandling* savedFileHandling() const { return m_handling; }

  private:
    SavedFileHandling* m_handling = nullptr;
};

} // namespace kavelo::transfer

#endif
