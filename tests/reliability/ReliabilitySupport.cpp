#include "ReliabilitySupport.h"

#include "support/TestSupport.h"

#include "masters/Masters.h"
#include "platform/Database.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace kavelo::reliability {

QString kaveloPath()
{
    return QDir(test::binaryDir()).filePath(QStringLiteral("kavelo"));
}

QString dumpTables(const QString& dbPath)
{
    auto db = platform::Database::openSqlite(dbPath, platform::Database::OpenMode::ExistingOnly);
    if (!db.isOk()) {
        ADD_FAILURE() << db.status().message().toStdString();
        return QString();
    }
    QStringList out;
    for (const masters::MasterDefinition* master : masters::allMasters()) {
        QStringList columns{platform::quoteIdentifier(masters::kTerminalIdColumn)};
        for (const QString& column : master->columns) {
            columns << platform::quoteIdentifier(column);
        }
        auto statement =
            (*db)->prepare(QStringLiteral("SELECT %1 FROM %2")
                               .arg(columns.join(QLatin1Char(',')), platform::quoteIdentifier(master->name)));
        if (!statement.isOk()) {
            ADD_FAILURE() << statement.status().message().toStdString();
            return QString();
        }
        QStringList rows;
        for (;;) {
            auto step = (*statement)->step();
            if (!step.isOk()) {
                ADD_FAILURE() << step.status().message().toStdString();
                return QString();
            }
            if (!*step) {
                break;
            }
            QStringList values;
            for (int c = 0; c < columns.size(); ++c) {
                values << ((*statement)->isNull(c) ? QStringLiteral("<NULL>") : (*statement)->text(c));
            }
            rows << master->name + QLatin1Char('|') + values.join(QLatin1Char('|'));
        }
        std::sort(rows.begin(), rows.end());
        out << rows;
    }
    return out.join(QLatin1Char('\n'));
}

QString productRecord(int code, int version)
{
    using test::record;
    const QString codeText = QStringLiteral("%1").arg(code, 13, 10, QLatin1Char('0'));
    return record({
        {QStringLiteral("1"), 1},
        {codeText, 13},
        {QStringLiteral("%1").arg(code % 1000000000, 12, 10, QLatin1Char('0')), 12},
        {QStringLiteral(" "), 1},
        {QStringLiteral("商品%1版%2").arg(code).arg(version), 20},
        {QStringLiteral("ｼｮｳﾋﾝ,%1").arg(version), 14},
        {QStringLiteral("0101"), 4},
        {QStringLiteral("012"), 3},
        {QStringLiteral("000123"), 6},
        {QStringLiteral("1"), 1},
        {QStringLiteral("%1").arg(100 + version, 9, 10, QLatin1Char('0')), 9},
        {QStringLiteral("%1").arg(198 + version, 7, 10, QLatin1Char('0')), 7},
        {QStringLiteral("0"), 1},
        {QStringLiteral("1"), 1},
        {QStringLiteral("1"), 1},
        {QStringLiteral("20190101"), 8},
        {QStringLiteral("010"), 3},
        {QStringLiteral("1"), 1},
        {QStringLiteral("20191001"), 8},
        {QStringLiteral("008"), 3},
        {QStringLiteral("20250101"), 8},
        {QStringLiteral("20250131"), 8},
        {QStringLiteral("000000090"), 9},
        {QStringLiteral("0000150"), 7},
        {QStringLiteral("20250201"), 8},
        {QStringLiteral("20250228"), 8},
        {QStringLiteral("20250301"), 8},
        {QStringLiteral("20250331"), 8},
    });
}

void restoreDatabase(const QString& snapshot, const QString& dbPath)
{
    for (const QString& suffix :
         {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"), QStringLiteral("-journal")}) {
        QFile::remove(dbPath + suffix);
    }
    ASSERT_TRUE(QFile::copy(snapshot, dbPath)) << dbPath.toStdString();
    QFile(dbPath).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

QStringList fileNames(const QString& folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    return names;
}

} // namespace kavelo::reliability
