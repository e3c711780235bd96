#include "transfer/StagedCopies.h"

#include "platform/Crypto.h"
#include "platform/Log.h"

#include <QDir>
#include <QThreadPool>

namespace kavelo::transfer {

using platform::Status;
using wire::StagedMaster;
using wire::TerminalStage;

namespace {

constexpr qint64 kDigestChunk = 256 * 1024;

// Runs on a worker thread: the files are shared, read at offsets, and never changed.
Status digestFile(StagedMaster& master)
{
    platform::Sha256 digest;
    qint64 offset = 0;
    for (;;) {
        platform::Result<QByteArray> chunk = master.file->read(offset, kDigestChunk);
        if (!chunk.isOk()) {
            return chunk.status();
        }
        if (chunk->isEmpty()) {
            break;
        }
        digest.add(*chunk);
        offset += chunk->size();
    }
    master.size = offset;
    master.sha256 = digest.finish();
    return Status::ok();
}

} // namespace

StagedCopies::StagedCopies(QString programFolder, QThreadPool& workers, QObject* parent)
    : QObject(parent)
    , m_programFolder(std::move(programFolder))
    , m_workers(workers)
{
}

void StagedCopies::stage(int terminalNo, const QStringList& names)
{
    auto stage = std::make_shared<TerminalStage>();
    stage->terminalNo = terminalNo;
    for (const QString& name : names) {
        StagedMaster master;
        master.name = name;
        platform::Result<std::shared_ptr<const platform::PinnedFile>> file =
            platform::PinnedFile::open(QDir(m_programFolder).filePath(name));
        if (file.isOk()) {
            master.file = *file;
        } else {
            qCWarning(lcComm).noquote() << file.status().message();
        }
        stage->masters.append(master);
    }
    // Whoever still waits for the older copies gets them: they were the terminal's when it asked.
    m_stages.insert(terminalNo, stage);
    digest(stage);
}

std::shared_ptr<const TerminalStage> StagedCopies::of(int terminalNo) const
{
    return m_stages.value(terminalNo);
}

void StagedCopies::whenDigested(int terminalNo, QObject* context, Ready ready)
{
    std::shared_ptr<TerminalStage> stage = m_stages.value(terminalNo);
    if (!stage || stage->digested) {
        QMetaObject::invokeMethod(
            context, [ready = std::move(ready), stage] { ready(stage); }, Qt::QueuedConnection);
        return;
    }
    m_waiters[stage.get()].append(Waiter{context, std::move(ready)});
}

void StagedCopies::digest(const std::shared_ptr<TerminalStage>& stage)
{
    QList<StagedMaster> masters = stage->masters;
    m_workers.start([this, stage, masters]() mutable {
        Status status;
        try {
            for (StagedMaster& master : masters) {
                Status read =
                    master.file ? digestFile(master) : Status::error(QStringLiteral("%1: not open").arg(master.name));
                if (!read.isOk() && status.isOk()) {
                    status = read;
                }
            }
        } catch (const std::exception& e) {
            status =
                Status::error(QStringLiteral("digesting staged masters: %1").arg(QString::fromLocal8Bit(e.what())));
        }
        // The owner of the workers waits for them before this object goes (see the constructor).
        QMetaObject::invokeMethod(
            this, [this, stage, masters, status] { digested(stage, masters, status); }, Qt::QueuedConnection);
    });
}

void StagedCopies::digested(const std::shared_ptr<TerminalStage>& stage,
                            const QList<StagedMaster>& masters,
                            const Status& status)
{
    stage->masters = masters;
    stage->status = status;
    stage->digested = true;
    if (!status.isOk()) {
        qCWarning(lcComm).noquote() << QStringLiteral("terminal %1: %2").arg(stage->terminalNo).arg(status.message());
    }
    const QList<Waiter> waiters = m_waiters.take(stage.get());
    for (const Waiter& waiter : waiters) {
        if (waiter.context) {
            waiter.ready(stage);
        }
    }
}

} // namespace kavelo::transfer
