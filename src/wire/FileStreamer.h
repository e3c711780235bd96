#ifndef KAVELO_WIRE_FILESTREAMER_H
#define KAVELO_WIRE_FILESTREAMER_H

#include "platform/PinnedFile.h"
#include "platform/Status.h"

#include <QObject>

#include <memory>

class QIODevice;

namespace kavelo::wire {

// Writes `length` bytes of a file, from `offset`, to a connection as it takes them: a few hundred KiB are in hand
// at most, so a slow reader costs no memory. The file is read at offsets, so any number of streamers share it.
class FileStreamer : public QObject
{
    Q_OBJECT

  public:
    FileStreamer(QIODevice& device,
                 std::shared_ptr<const platform::PinnedFile> file,
                 qint64 offset,
                 qint64 length,
                 QObject* parent = nullptr);

    // Writes what the connection takes now; finished() follows, never from inside start().
    void start();
    qint64 written() const { return m_written; }

  Q_SIGNALS:
    // All of it handed to the connection, or the file could not be read (it was cut short on the disk).
    void finished(const platform::Status& status);

  private:
    void writeMore();
    // Bytes handed to the connection and not yet gone out (a TLS socket's encrypted ones too).
    qint64 backlog() const;
    void finish(const platform::Status& status);

    QIODevice& m_device;
    std::shared_ptr<const platform::PinnedFile> m_file;
    qint64 m_offset;
    qint64 m_left;
    qint64 m_written = 0;
    bool m_started = false;
    bool m_done = false;
};

} // namespace kavelo::wire

#endif
