#ifndef KAVELO_TESTS_RELIABILITY_RELIABILITYSUPPORT_H
#define KAVELO_TESTS_RELIABILITY_RELIABILITYSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace kavelo::reliability {

// The kavelo executable of this build.
QString kaveloPath();

// Every row of every master table, each as one line of its columns, lines sorted: the comparison form of a
// database's content. Opening the database rolls back whatever a killed writer left unfinished.
QString dumpTables(const QString& dbPath);

// A product master record (181 characters) with the given code and a name and price that depend on `version`.
QString productRecord(int code, int version);

// Removes the database and its WAL and shared-memory files, then copies `snapshot` in its place.
void restoreDatabase(const QString& snapshot, const QString& dbPath);

// Names of the files in a folder (not recursive), sorted.
QStringList fileNames(const QString& folder);

} // namespace kavelo::reliability

#endif
