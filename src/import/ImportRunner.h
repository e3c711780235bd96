#ifndef KAVELO_IMPORT_IMPORTRUNNER_H
#define KAVELO_IMPORT_IMPORTRUNNER_H

#include "import/HostImport.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace kavelo::import {

// What one import came to, handed to the window when it is over.
struct ImportOutcome
{
    QString master;        // "SHOMAS"
    QString hostFile;      // import folder + "SHOMAS.DAT"
    bool ok = false;
    ImportSummary summary; // valid when ok
    QString error;         // when !ok: file, line and reason
};

// Runs one host import at a time off the window thread, so that the windows, the poll timer and the transfers go
// on while a large product master loads. importMaster opens its own database connection on the worker thread and
// commits the whole host file as one transaction.
//
// Database work is serialised with the master poll, which runs on the window thread: an import asked for while
// the poll runs (`pollRunning` says so) waits until the poll has ended and then starts; while an import runs,
// the window tells the poll to wait (isRunning()), and the poll then comes on the first tick after the import.
// So an import and a terminal's master update never write the database at the same time.
//
// Lives on the window thread; every signal comes on that thread. Owned by the main window for the whole run, so
// an import outlives the import window that started it; the destructor waits for a running import.
class ImportRunner : public QObject
{
    Q_OBJECT

public:
    explicit ImportRunner(QObject* parent = nullptr);
    ~ImportRunner() override;
    ImportRunner(const ImportRunner&) = delete;
    ImportRunner& operator=(const ImportRunner&) = delete;

    // True while the master poll runs; the runner then holds a requested import back.
    void setPollRunning(std::function<bool()> pollRunning);

    // Asks for the import of one master. False (and nothing happens) when an import is already waiting or running.
    bool start(const masters::MasterDefinition& master, const ImportContext& context);

    // An import is waiting for the poll or running.
    bool isRunning() const { return m_request.has_value(); }
    // The master of the import that is waiting or running; empty otherwise.
    QString currentMaster() const;

Q_SIGNALS:
    void waitingForPoll(const QString& master);
    void started(const QString& master);
    // Bytes of the host file done; sent when the whole percent changes.
    void progress(const QString& master, qint64 bytesDone, qint64 bytesTotal);
    void finished(const kavelo::import::ImportOutcome& outcome);

private:
    struct Request
    {
        const masters::MasterDefinition* master;
        ImportContext context;
    };

    void tryStart();
    void onWorkerFinished();

    std::function<bool()> m_pollRunning;
    std::optional<Request> m_request;
    QThread* m_worker = nullptr;
    QTimer m_retry;
    // Written by the worker before it ends, read on the window thread after QThread::finished.
    std::unique_ptr<platform::Result<ImportSummary>> m_result;
};

} // namespace kavelo::import

#endif
