#include "db/StoreFlow.h"

#include "batch/BatchUser.h"
#include "db/BatchRows.h"
#include "masters/Fields.h"

namespace kavelo::db {

using masters::HostOperation;
using masters::MasterDefinition;
using platform::Result;
using platform::Status;

namespace {

class UpdateUser final : public batch::BatchUser
{
  public:
    UpdateUser(UpdateWork& work, const MasterDefinition& master, const QString& path)
        : m_work(work)
        , m_master(master)
        , m_path(path)
    {
    }

    std::optional<Admitted> admit(QStringView line) override
    {
        ++m_counts.linesRead;
        if (line.isEmpty()) {
            return std::nullopt;
        }
        return Admitted{masters::cutFieldView(line, m_master.updateKey, m_scratch)};
    }

    Status apply(batch::LineBatch& batch) override
    {
        BatchRows rows(batch, m_master, BatchRows::Kind::Update, m_path);
        rows.decide();
        Result<qint64> added = m_work.apply(rows);
        if (!added.isOk()) {
            return added.status();
        }
        m_counts.rowsAdded += *added;
        m_counts.rowsReplaced += static_cast<qint64>(batch.size()) - *added;
        return Status::ok();
    }

    const UpdateCounts& counts() const { return m_counts; }

  private:
    UpdateWork& m_work;
    const MasterDefinition& m_master;
    const QString& m_path;
    QString m_scratch;
    UpdateCounts m_counts;
};

class ImportUser final : public batch::BatchUser
{
  public:
    ImportUser(ImportWork& work, const MasterDefinition& master, const QString& path)
        : m_work(work)
        , m_master(master)
        , m_path(path)
    {
    }

    std::optional<Admitted> admit(QStringView line) override
    {
        ++m_counts.recordsRead;
        const HostOperation operation = masters::hostOperation(line);
        if (operation == HostOperation::Skip) {
            ++m_counts.skipped;
            return std::nullopt;
        }
        ++(operation == HostOperation::Replace ? m_counts.replaced : m_counts.deleted);
        return Admitted{masters::cutFieldView(line, m_master.importKey, m_scratch), static_cast<quint8>(operation)};
    }

    Status apply(batch::LineBatch& batch) override
    {
        BatchRows rows(batch, m_master, BatchRows::Kind::Import, m_path);
        rows.decide();
        return m_work.apply(rows);
    }

    const ImportCounts& counts() const { return m_counts; }

  private:
    ImportWork& m_work;
    const MasterDefinition& m_master;
    const QString& m_path;
    QString m_scratch;
    ImportCounts m_counts;
};

// Stores the rows, then puts the export in place: a refused commit leaves both as they were.
Status commitBoth(UpdateWork& work, platform::ShiftJisLineWriter& exportFile)
{
    Status status = exportFile.sync();
    if (status.isOk()) {
        status = work.commit();
    }
    if (!status.isOk()) {
        return status;
    }
    Status renamed = exportFile.commit();
    if (!renamed.isOk()) {
        return Status::error(
            QStringLiteral("the rows are stored, but the export could not be replaced: %1").arg(renamed.message()));
    }
    return Status::ok();
}

} // namespace

Result<UpdateCounts> updateOnStore(MasterStore& store,
                                   const MasterDefinition& master,
                                   const QString& terminalId,
                                   const QString& updatePath,
                                   const QString& exportPath,
                                   qsizetype batchBytes)
{
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(updatePath);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<UpdateWork>> work = store.beginUpdate(master, terminalId);
    if (!work.isOk()) {
        return work.status();
    }
    UpdateUser user(**work, master, updatePath);
    batch::LineBatch lines(batchBytes);
    Status applied = batch::applyInBatches(**reader, lines, user);
    if (!applied.isOk()) {
        return applied; // the work rolls back
    }
    reader->reset();
    Result<WrittenExport> exported = (*work)->writeExport(exportPath);
    if (!exported.isOk()) {
        return exported.status();
    }
    Status committed = commitBoth(**work, *exported->file);
    if (!committed.isOk()) {
        return committed;
    }
    UpdateCounts counts = user.counts();
    counts.rowsExported = exported->rows;
    return counts;
}

Result<ImportCounts>
importOnStore(MasterStore& store, const MasterDefinition& master, const QString& hostPath, qsizetype batchBytes)
{
    Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(hostPath);
    if (!reader.isOk()) {
        return reader.status();
    }
    Result<std::unique_ptr<ImportWork>> work = store.beginImport(master);
    if (!work.isOk()) {
        return work.status();
    }
    ImportUser user(**work, master, hostPath);
    batch::LineBatch lines(batchBytes);
    Status applied = batch::applyInBatches(**reader, lines, user);
    if (!applied.isOk()) {
        return applied;
    }
    Status committed = (*work)->commit();
    if (!committed.isOk()) {
        return committed.prefixed(hostPath + QStringLiteral(": the import could not be committed: "));
    }
    return user.counts();
}

} // namespace kavelo::db
