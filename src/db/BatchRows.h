#ifndef KAVELO_DB_BATCHROWS_H
#define KAVELO_DB_BATCHROWS_H

#include "batch/LineBatch.h"
#include "db/MasterStore.h"
#include "masters/MasterDefinition.h"

#include <QString>

#include <functional>
#include <vector>

namespace kavelo::db {

// The decided rows of a batch of held lines: of each key (trailing blanks ignored) its last line, in key order,
// cut into the fields of an update or of an import. A line held for the import carries its operation as its tag
// (masters::HostOperation).
class BatchRows final : public DecidedRows
{
  public:
    enum class Kind
    {
        Update, // the master's update key and assignment list
        Import, // its import key and import fields
    };
    // Hears of the rows done of the batch's `total` keys; an error makes the work give up.
    using Progress = std::function<platform::Status(size_t done, size_t total)>;

    // `path` names the file in errors. Sorts the batch by key and picks each key's last line.
    BatchRows(batch::LineBatch& batch,
              const masters::MasterDefinition& master,
              Kind kind,
              QString path,
              Progress progress = {});

    size_t count() const override { return m_lines.size(); }
    QByteArrayView key(size_t i) const override { return m_batch.key(m_lines[i]); }
    QByteArrayView comparedKey(size_t i) const override;
    bool deletes(size_t i) const override;
    platform::Result<std::span<const QStringView>> values(size_t i) override;
    void prefetch(size_t i) const override { m_batch.prefetch(m_lines[i]); }
    platform::Status refused(size_t i, const QString& reason) const override;
    platform::Status progressed(size_t done) override;

  private:
    batch::LineBatch& m_batch;
    const std::vector<masters::Field>& m_fields;
    const QString m_path;
    const Progress m_progress;
    std::vector<size_t> m_lines;
    std::vector<QStringView> m_values;
    std::vector<QString> m_scratch;
};

} // namespace kavelo::db

#endif
