#ifndef KAVELO_IMPORT_IMPORTRUNNER_H
#define KAVELO_IMPORT_IMPORTRUNNER_H

#include "import/HostImport.h"

#include <QObject>
#include <QString>

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

// Runs one host import at a time off the event loop's thread, so that the windows, the poll timer and the
// transfers go on while a large product master loads. importMaster opens its own database connection on the
// worker thread and commits the whole host file as one transaction. When an import may start (never during a
// master poll) is the service's business.
//
// Lives on the event loop's thread; every signal comes on that thread. The destructor waits for a running import.
class ImportRunner : public QObject
{
    Q_OBJECT

public:
    explicit ImportRunner(QObject* parent = nullptr);
    ~ImportRunner() override;
    ImportRunner(const ImportRunner&) = delete;
    ImportRunner& operator=(const ImportRunner&) = delete;

    // Starts the import of one master. False (and nothing happens) when an import is already running.
    bool start(const masters::MasterDefinition& master, const ImportContext& context);

    bool isRunning() const { return m_worker != nullptr; }

Q_SIGNALS:
    void started(const QString& master);
    // Bytes of the host file done; sent when the whole percent changes.
    void progress(const QString& master, qint64 bytesDone, qint64 bytesTotal);
    void finished(const kavelo::import::ImportOutcome& outcome);

private:
    void onWorkerFinished();

    const masters::MasterDefinition* m_master = nullptr;
    ImportContext m_context;
    QThread* m_worker = nullptr;
    // Written by the worker before it ends, read on the event loop's thread after QThread::finished.
    std::unique_ptr<platform::Result<ImportSummary>> m_result;
};

} // namespace kavelo::import

#endif
