#include "backup/Manifest.h"

#include "platform/SystemError.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kavelo::backup {

using platform::Result;
using platform::Status;

namespace {

// A path inside a backup: relative, '/'-separated, never leaving the backup.
bool isInsidePath(const QString& path)
{
    return !path.isEmpty() && !QDir::isAbsolutePath(path) && !path.contains(QLatin1Char('\\')) &&
           !path.split(QLatin1Char('/')).contains(QStringLiteral("..")) && QDir::cleanPath(path) == path;
}

Result<ManifestItem> itemFrom(const QJsonObject& json)
{
    ManifestItem item{json.value(QLatin1String("name")).toString(),
                      json.value(QLatin1String("source")).toString(),
                      json.value(QLatin1String("folder")).toBool(true)};
    if (!isInsidePath(item.name) || !QDir::isAbsolutePath(item.source)) {
        return Status::error(QStringLiteral("an item without a proper name or source"));
    }
    return item;
}

Result<ManifestFile> fileFrom(const QJsonObject& json)
{
    ManifestFile file{json.value(QLatin1String("path")).toString(),
                      json.value(QLatin1String("size")).toInteger(-1),
                      json.value(QLatin1String("sha256")).toString().toLatin1(),
                      json.value(QLatin1String("database")).toBool(false)};
    if (!isInsidePath(file.path) || file.size < 0 || file.sha256.size() != 64) {
        return Status::error(QStringLiteral("a file entry without a proper path, size or SHA-256"));
    }
    return file;
}

Status readLists(const QJsonObject& root, Manifest& manifest)
{
    for (const QJsonValue& value : root.value(QLatin1String("items")).toArray()) {
        Result<ManifestItem> item = itemFrom(value.toObject());
        if (!item.isOk()) {
            return item.status();
        }
        manifest.items.push_back(*item);
    }
    for (const QJsonValue& value : root.value(QLatin1String("folders")).toArray()) {
        if (!isInsidePath(value.toString())) {
            return Status::error(QStringLiteral("a folder entry that is not a path inside the backup"));
        }
        manifest.folders << value.toString();
    }
    for (const QJsonValue& value : root.value(QLatin1String("files")).toArray()) {
        Result<ManifestFile> file = fileFrom(value.toObject());
        if (!file.isOk()) {
            return file.status();
        }
        if (!manifest.itemOf(file->path)) {
            return Status::error(QStringLiteral("%1 belongs to no item").arg(file->path));
        }
        manifest.files.push_back(*file);
    }
    for (const QJsonValue& value : root.value(QLatin1String("notes")).toArray()) {
        manifest.notes << value.toString();
    }
    if (manifest.items.empty()) {
        return Status::error(QStringLiteral("it lists nothing backed up"));
    }
    return Status::ok();
}

} // namespace

QByteArray Manifest::toJson() const
{
    QJsonArray itemArray;
    for (const ManifestItem& item : items) {
        itemArray.append(QJsonObject{{QStringLiteral("name"), item.name},
                                     {QStringLiteral("source"), item.source},
                                     {QStringLiteral("folder"), item.folder}});
    }
    QJsonArray fileArray;
    for (const ManifestFile& file : files) {
        QJsonObject entry{{QStringLiteral("path"), file.path},
                          {QStringLiteral("size"), file.size},
                          {QStringLiteral("sha256"), QString::fromLatin1(file.sha256)}};
        if (file.database) {
            entry.insert(QStringLiteral("database"), true);
        }
        fileArray.append(entry);
    }
    const QJsonObject root{
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("kaveloVersion"), kaveloVersion},
        {QStringLiteral("createdAt"), createdAt.toOffsetFromUtc(createdAt.offsetFromUtc()).toString(Qt::ISODate)},
        {QStringLiteral("programFolder"), programFolder},
        {QStringLiteral("items"), itemArray},
        {QStringLiteral("folders"), QJsonArray::fromStringList(folders)},
        {QStringLiteral("files"), fileArray},
        {QStringLiteral("notes"), QJsonArray::fromStringList(notes)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

Result<Manifest> Manifest::read(const QString& backupFolder)
{
    const QString path = QDir(backupFolder).filePath(kFileName);
    QFile file(path);
    if (!file.exists()) {
        return Status::error(QStringLiteral("%1: no manifest: not a backup, or one that was never finished").arg(path));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot read the manifest: %2").arg(path, platform::fileReason(file)));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    const QJsonObject root = document.object();
    if (document.isNull() || root.value(QLatin1String("format")).toInt() != kFormat) {
        return Status::error(QStringLiteral("%1: the manifest is damaged or of another format (%2)")
                                 .arg(path, document.isNull() ? parseError.errorString() : QStringLiteral("format")));
    }
    Manifest manifest;
    manifest.kaveloVersion = root.value(QLatin1String("kaveloVersion")).toString();
    manifest.createdAt = QDateTime::fromString(root.value(QLatin1String("createdAt")).toString(), Qt::ISODate);
    manifest.programFolder = root.value(QLatin1String("programFolder")).toString();
    Status lists = readLists(root, manifest);
    if (!lists.isOk()) {
        return lists.prefixed(path + QStringLiteral(": the manifest is damaged: "));
    }
    return manifest;
}

const ManifestItem* Manifest::itemOf(const QString& path) const
{
    for (const ManifestItem& item : items) {
        if (path.startsWith(item.name + QLatin1Char('/'))) {
            return &item;
        }
    }
    return nullptr;
}

} // namespace kavelo::backup
