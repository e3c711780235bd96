#ifndef KAVELO_DB_BATCHROWS_H
#define KAVELO_DB_BATCHROWS_H

#include "batch/LineBatch.h"
#include "db/MasterStore.h"
#include "masters/MasterDefinition.h"

#include <QString>

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

    // `path` names the file in errors.
    BatchRows(batch::LineBatch& batch, const masters::MasterDefinition& master, Kind kind, QString path);

    // Sorts the batch by key and picks each key's last line.
    void decide();

    size_t count() const override { return m_lines.size(); }
    platform::Result<DecidedRow> row(size_t i) override;
    platform::Status refused(size_t i, const QString& reason) const override;

  private:
    batch::LineBatch& m_batch;
    const masters::Field& m_key;
    const std::vector<masters::Field>& m_fields;
    const QString m_path;
    std::vector<size_t> m_lines;
    std::vector<QStringView> m_values;
    std::vector<QString> m_scratch;
    QString m_keyScratch;
};

} // namespace kavelo::db

#endif
