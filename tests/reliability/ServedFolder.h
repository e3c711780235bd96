#ifndef KAVELO_TESTS_RELIABILITY_SERVEDFOLDER_H
#define KAVELO_TESTS_RELIABILITY_SERVEDFOLDER_H

#include "shell/Service.h"
#include "support/RecordingOperatorUi.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace kavelo::reliability {

// A program folder served by the real service (TCP server on loopback, transfer handling, poll) on this thread's
// event loop. Terminals run on threads of their own (test::runTerminals).
class ServedFolder
{
  public:
    struct Options
    {
        QStringList settings; // extra KAVELO.ini lines
        int idleTimeoutMs = 30000;
    };
    explicit ServedFolder(const Options& options);
    ~ServedFolder();

    test::ProgramFolder& folder() { return m_folder; }
    shell::Service& service() { return *m_service; }
    test::RecordingOperatorUi& ui() { return m_ui; }
    quint16 port() const { return m_port; }

  private:
    test::ProgramFolder m_folder;
    test::RecordingOperatorUi m_ui;
    std::unique_ptr<shell::Service> m_service;
    quint16 m_port = 0;
};

// What a raw client saw: the lines the server sent and whether it closed the connection.
struct RawExchange
{
    QList<QByteArray> lines;
    bool closedByServer = false;
    bool connected = false;
};

// Connects from this thread, sends `bytes` at once and then `trickle` one byte every `pauseMs`, and reads what comes
// back until the server closes or `waitMs` pass without a byte.
RawExchange
rawExchange(quint16 port, const QByteArray& bytes, int waitMs = 3000, const QByteArray& trickle = {}, int pauseMs = 0);

// Every file under `root` (recursively) with its content, except the log and the database's own files: the
// comparison form of "nothing was written".
QHash<QString, QByteArray> treeContent(const QString& root);

QByteArray putHeader(const QString& name, const QByteArray& content);

} // namespace kavelo::reliability

#endif
