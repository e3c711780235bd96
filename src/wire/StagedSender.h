#ifndef KAVELO_WIRE_STAGEDSENDER_H
#define KAVELO_WIRE_STAGEDSENDER_H

#include "platform/PinnedFile.h"
#include "platform/Status.h"

#include <QFutureWatcher>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;
class QTemporaryFile;
class QThreadPool;

namespace kavelo::wire {

// Sends one staged master file to a terminal as a FILE frame, or compressed as a ZFILE frame: the file's size and
// CRC-32 (and, compressed, the zlib stream in a scratch file) are worked out on a worker thread, then the header and
// the bytes go out from disk as the device drains, so that a slow reader holds no more than a few hundred KiB here.
// The file is a handle taken when the file was staged, so the bytes are those staged for this terminal even when
// another terminal's staging has replaced the name in the program folder since.
class StagedSender : public QObject
{
    Q_OBJECT

  public:
    struct Prepared
    {
        platform::Status status;
        qint64 size = 0;
        quint32 crc = 0;
        std::shared_ptr<QTemporaryFile> compressed; // ZFILE only: the zlib stream
    };

    StagedSender(QIODevice& device,
                 std::shared_ptr<const platform::PinnedFile> file,
                 QString name,
                 bool deflate,
                 QString scratchFolder,
                 QThreadPool& workers,
                 QObject* parent = nullptr);
    ~StagedSender() override;

    // Starts the work; finished() follows, never from inside start().
    void start();
    // True while the worker thread has the file: the terminal is not the one being waited for.
    bool preparing() const { return m_preparing; }
    // Once finished: the file's size, and the bytes of its frame on the wire.
    // The file's header line is out: a failure now leaves its frame cut short.
    bool frameStarted() const { return m_started; }
    qint64 fileSize() const { return m_prepared.size; }
    qint64 wireBytes() const { return m_wire; }

  Q_SIGNALS:
    void finished(const platform::Status& status);

  private:
    void onPrepared();
    void finish(const platform::Status& status);

    QIODevice& m_device;
    std::shared_ptr<const platform::PinnedFile> m_file;
    QString m_name;
    bool m_deflate;
    QString m_scratchFolder;
    QThreadPool& m_workers;
    QFutureWatcher<Prepared> m_watcher;
    bool m_preparing = false;
    bool m_done = false;
    Prepared m_prepared;
    bool m_started = false;
    qint64 m_wire = 0;
};

} // namespace kavelo::wire

#endif
