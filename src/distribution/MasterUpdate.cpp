#include "distribution/MasterUpdate.h"

#include "batch/BatchUser.h"
#include "db/BatchRows.h"
#include "masters/Fields.h"
#include "masters/Masters.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <future>
#include <memory>

namespace kavelo::distribution {

using masters::MasterDefinition;
using platform::Result;
using platform::Status;

namespace {

// Commits the rows, then puts the export in place. Order of the two: the database first, then the export's rename.
// A refused commit (the likelier failure: a full disk, a lock, a lost connection) then leaves both the rows and the
// export as they were. If the rename fails, or the process dies between the two, the database holds the new rows
// and the folder the previous, complete export; the update file is still in place (the caller sets it aside only
// after success), so the next run applies the same lines again, which sets every row to the same values, and writes
// the matching export. The other order could leave an export whose rows the database refused to store.
Status commitBoth(db::UpdateWork& work, platform::ShiftJisLineWriter& exportFile)
{
    // The export's data goes to disk while the database commits: both are waits on the disk (or the server).
    std::future<Status> exportSynced = std::async(std::launch::async, [&exportFile] { return exportFile.sync(); });
    Status committed = work.commit();
    Status synced = exportSynced.get();
    if (!committed.isOk()) {
        return committed;
    }
    Status renamed = synced.isOk() ? exportFile.commit() : synced;
    if (!renamed.isOk()) {
        return renamed.prefixed(QStringLiteral("the rows are stored, but the export could not be replaced: "));
    }
    return Status::ok();
}

// What the update does with the lines of its file: every line sets the whole assignment list of its key's row, so
// of several lines of one key only the last one's values remain, and a key that is new gets one row. Applying a
// batch in key order, each key's last line only, therefore gives the rows that applying the lines one by one in
// file order gives; the store's work finds, replaces and adds them.
class UpdateLines final : public batch::BatchUser
{
  public:
    UpdateLines(const MasterDefinition& master, const QString& path, std::stop_token stop)
        : m_master(master)
        , m_path(path)
        , m_stop(std::move(stop))
    {
    }

    void start(db::UpdateWork& work) { m_work = &work; }

    std::optional<Admitted> admit(QStringView line) override
    {
        ++m_summary.linesRead;
        if (line.isEmpty()) {
            return std::nullopt; // an empty line is no record: it would add a row with an empty key
        }
        return Admitted{masters::cutFieldView(line, m_master.updateKey, m_scratch)};
    }

    // Every line counts as added or replaced: the last line of a new key as added, every other line (a key's
    // earlier lines too, as replacements of the row its first line would add) as replaced.
    Status apply(batch::LineBatch& batch) override
    {
        const qint64 lines = static_cast<qint64>(batch.size());
        db::BatchRows rows(batch, m_master, db::BatchRows::Kind::Update, m_path, [this](size_t, size_t) {
            return m_stop.stop_requested() ? batch::stoppedWork(m_path) : Status::ok();
        });
        Result<qint64> added = m_work->apply(rows);
        if (!added.isOk()) {
            return added.status();
        }
        m_summary.rowsAdded += *added;
        m_summary.rowsReplaced += lines - *added;
        return Status::ok();
    }

    const UpdateSummary& summary() const { return m_summary; }

  private:
    const MasterDefinition& m_master;
    const QString& m_path;
    const std::stop_token m_stop;
    db::UpdateWork* m_work = nullptr;
    UpdateSummary m_summary;
    QString m_scratch;
};

// An update file in the flow: the terminal's rows added or replaced, then the export written beside the file and
// put in place with the commit.
class UpdateFileWork final : public db::FileWork
{
  public:
    UpdateFileWork(const MasterDefinition& master, const UpdateContext& context, const QString& terminalId)
        : m_master(master)
        , m_terminalId(terminalId)
        , m_updatePath(context.tree.receiveFile(terminalId, master.updateFileName()))
        , m_exportPath(context.tree.receiveFile(terminalId, master.exportFileName()))
        , m_lines(master, m_updatePath, context.stop)
    {
    }

    const QString& updatePath() const { return m_updatePath; }

    QString kind() const override { return QStringLiteral("update file"); }

    Status begin(db::MasterStore& store, const platform::ShiftJisLineReader&) override
    {
        Result<std::unique_ptr<db::UpdateWork>> work = store.beginUpdate(m_master, m_terminalId);
        if (!work.isOk()) {
            return work.status();
        }
        m_work = std::move(*work);
        m_lines.start(*m_work);
        return Status::ok();
    }

    batch::BatchUser& user() override { return m_lines; }

    Status beforeCommit() override
    {
        Result<db::WrittenExport> written = m_work->writeExport(m_exportPath);
        if (!written.isOk()) {
            return written.status(); // the temporary export is removed
        }
        m_export = std::move(*written);
        return Status::ok();
    }

    Status commit() override { return commitBoth(*m_work, *m_export.file); }

    void finish() override
    {
        m_work.reset();
        m_export.file.reset(); // an export not put in place is removed
    }

    UpdateSummary summary() const
    {
        UpdateSummary summary = m_lines.summary();
        summary.rowsExported = m_export.rows;
        return summary;
    }

  private:
    const MasterDefinition& m_master;
    const QString m_terminalId;
    const QString m_updatePath;
    const QString m_exportPath;
    UpdateLines m_lines;
    std::unique_ptr<db::UpdateWork> m_work;
    db::WrittenExport m_export;
};

} // namespace

QString summaryText(const UpdateSummary& summary)
{
    return QStringLiteral("%1 lines read, %2 rows added, %3 replaced, %4 exported")
        .arg(summary.linesRead)
        .arg(summary.rowsAdded)
        .arg(summary.rowsReplaced)
        .arg(summary.rowsExported);
}

Result<UpdateSummary> updateMaster(const MasterDefinition& master, const UpdateContext& context, qint64 terminalNo)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    UpdateFileWork work(master, context, terminalId);
    db::FlowContext flow;
    flow.location = context.database;
    flow.dbSetting = QStringLiteral("DBname");
    flow.batchBytes = context.batchBytes;
    flow.checkpoints = context.checkpoints;
    flow.stop = context.stop;
    flow.progress = context.progress;
    flow.category = lcDistribution;
    Status applied = db::applyFile(work.updatePath(), flow, work);
    if (!applied.isOk()) {
        return applied.about(master.name, terminalId);
    }
    return work.summary();
}

Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::classificationMaster(), c, t);
}
Result<UpdateSummary> UpdateTENMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::storeMaster(), c, t);
}
Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::supplierMaster(), c, t);
}
Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::customerMaster(), c, t);
}
Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::productMaster(), c, t);
}
Result<UpdateSummary> UpdateJISYA(const UpdateContext& c, qint64 t)
{
    return updateMaster(masters::ownCompanyCodeMaster(), c, t);
}

} // namespace kavelo::distribution
