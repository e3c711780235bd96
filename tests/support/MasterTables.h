#ifndef KAVELO_TESTS_SUPPORT_MASTERTABLES_H
#define KAVELO_TESTS_SUPPORT_MASTERTABLES_H

#include <QMap>
#include <QString>
#include <QStringList>

#include <vector>

namespace kavelo::test {

// Reads and seeds master tables of a test database through the Database API. A NULL reads as "<NULL>".
class MasterTables
{
  public:
    explicit MasterTables(QString dbPath);

    // The given columns of the rows whose "端末ID" is `terminalId`, in the order they were stored.
    std::vector<QStringList> rows(const QString& table, const QStringList& columns, const QString& terminalId) const;
    // The given columns of every row, whatever its terminal, in the order they were stored.
    std::vector<QStringList> all(const QString& table, const QStringList& columns) const;
    // The given columns of every row, whatever its terminal, sorted: the table's content without its order.
    std::vector<QStringList> content(const QString& table, const QStringList& columns) const;
    qint64 count(const QString& table, const QString& terminalId) const;
    // A row with the given column values; "端末ID" is `terminalId`, columns not given are NULL.
    void insert(const QString& table, const QString& terminalId, const QMap<QString, QString>& values) const;
    // Any fixed statement (e.g. a trigger that makes a write fail).
    void exec(const QString& sql) const;

  private:
    // SELECT columns FROM table `rest`, with ?1 bound to `terminalId` unless that is null.
    std::vector<QStringList>
    select(const QString& table, const QStringList& columns, const QString& rest, const QString& terminalId) const;

    QString m_dbPath;
};

} // namespace kavelo::test

#endif
