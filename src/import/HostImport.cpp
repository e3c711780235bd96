#include "import/HostImport.h"

#include "batch/BatchUser.h"
#include "db/BatchRows.h"
#include "masters/Fields.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <memory>

namespace kavelo::import {

using masters::HostOperation;
using masters::MasterDefinition;
using platform::Result;
using platform::Status;

namespace {

// Progress is reported each time this many more bytes of the host file are done.
constexpr qint64 kProgressStepBytes = 256 * 1024;

// What the import does with the records of a host file: a record of flag "1" or "2" deletes every row of its key
// (of every terminal and earlier imports alike, trailing blanks ignored) and inserts itself; one of flag "3" only
// deletes; any other line is skipped. So the last record of a key alone decides what the table holds of that key
// afterwards: one row with that record's values, or none. A batch is therefore applied in key order, each key's
// last record only, which gives the table of applying the records one by one in file order.
class ImportRecords final : public batch::BatchUser
{
  public:
    ImportRecords(const MasterDefinition& master,
                  const QString& path,
                  const ProgressHook& progress,
                  std::stop_token stop)
        : m_master(master)
        , m_path(path)
        , m_progress(progress)
        , m_stop(std::move(stop))
    {
    }

    void start(db::ImportWork& work, const platform::ShiftJisLineReader& reader)
    {
        m_work = &work;
        m_reader = &reader;
    }

    std::optional<Admitted> admit(QStringView line) override
    {
        ++m_summary.recordsRead;
        const HostOperation operation = masters::hostOperation(line);
        if (operation == HostOperation::Skip) {
            ++m_summary.skipped;
            return std::nullopt;
        }
        ++(operation == HostOperation::Replace ? m_summary.replaced : m_summary.deleted);
        return Admitted{masters::cutFieldView(line, m_master.importKey, m_scratch), static_cast<quint8>(operation)};
    }

    Status apply(batch::LineBatch& batch) override
    {
        m_batchEnd = m_reader->bytesConsumed();
        db::BatchRows rows(batch, m_master, db::BatchRows::Kind::Import, m_path, [this](size_t done, size_t total) {
            if (m_stop.stop_requested()) {
                return batch::stoppedWork(m_path);
            }
            progressed(done, total);
            return Status::ok();
        });
        Status applied = m_work->apply(rows);
        m_batchStart = m_batchEnd;
        return applied;
    }

    const ImportSummary& summary() const { return m_summary; }

  private:
    // `done` of the batch's `total` keys are applied: the bytes of the file up to the batch's start, and of the
    // batch's own in proportion.
    void progressed(size_t done, size_t total)
    {
        if (!m_progress || total == 0) {
            return;
        }
        const qint64 bytes = m_batchStart + qint64(double(m_batchEnd - m_batchStart) * double(done) / double(total));
        if (bytes >= m_nextReport) {
            m_progress(bytes, m_reader->fileSize());
            m_nextReport = bytes + kProgressStepBytes;
        }
    }

    const MasterDefinition& m_master;
    const QString& m_path;
    const ProgressHook& m_progress;
    const std::stop_token m_stop;
    db::ImportWork* m_work = nullptr;
    const platform::ShiftJisLineReader* m_reader = nullptr;
    ImportSummary m_summary;
    QString m_scratch;
    // Bytes of the host file accounted for before this batch and at its end, and the next report.
    qint64 m_batchStart = 0;
    qint64 m_batchEnd = 0;
    qint64 m_nextReport = kProgressStepBytes;
};

// A host file in the flow: every record replaces or deletes the rows of its key.
class ImportFileWork final : public db::FileWork
{
  public:
    ImportFileWork(const MasterDefinition& master, const ImportContext& context, const ProgressHook& progress)
        : m_master(master)
        , m_hostPath(hostFilePath(master, context))
        , m_records(master, m_hostPath, progress, context.stop)
    {
    }

    QString kind() const override { return QStringLiteral("host file"); }

    Status begin(db::MasterStore& store, const platform::ShiftJisLineReader& reader) override
    {
        Result<std::unique_ptr<db::ImportWork>> work = store.beginImport(m_master);
        if (!work.isOk()) {
            return work.status();
        }
        m_work = std::move(*work);
        m_records.start(*m_work, reader);
        return Status::ok();
    }

    batch::BatchUser& user() override { return m_records; }

    Status commit() override
    {
        return m_work->commit().prefixed(m_hostPath + QStringLiteral(": the import could not be committed: "));
    }

    void finish() override { m_work.reset(); }

    const ImportSummary& summary() const { return m_records.summary(); }

  private:
    const MasterDefinition& m_master;
    const QString m_hostPath;
    ImportRecords m_records;
    std::unique_ptr<db::ImportWork> m_work;
};

} // namespace

QString summaryText(const ImportSummary& summary)
{
    return QStringLiteral("%1 records read, %2 replaced, %3 deleted, %4 skipped")
        .arg(summary.recordsRead)
        .arg(summary.replaced)
        .arg(summary.deleted)
        .arg(summary.skipped);
}

QString hostFilePath(const MasterDefinition& master, const ImportContext& context)
{
    return context.importDir + master.hostFileName();
}

Result<ImportSummary>
importMaster(const MasterDefinition& master, const ImportContext& context, const ProgressHook& progress)
{
    ImportFileWork work(master, context, progress);
    db::FlowContext flow;
    flow.location = context.database;
    flow.dbSetting = QStringLiteral("ImportDB");
    flow.batchBytes = context.batchBytes;
    flow.checkpoints = context.checkpoints;
    flow.stop = context.stop;
    flow.progress = progress;
    // A returned import is safe from a power cut, as it always was: synced by its own checkpoint, or, with the
    // checkpoint left to a worker, by its commit.
    flow.durableCommit = true;
    flow.category = lcImport;
    Status applied = db::applyFile(hostFilePath(master, context), flow, work);
    if (!applied.isOk()) {
        return applied.about(master.name, QString());
    }
    return work.summary();
}

} // namespace kavelo::import
