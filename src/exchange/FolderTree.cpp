#include "exchange/FolderTree.h"

#include "platform/Text.h"

#include <QDir>

namespace kavelo::exchange {

namespace {

const QChar kSep = QDir::separator();

} // namespace

FolderTree::FolderTree(QString dataRoot, QString programFolder)
    : m_dataRoot(std::move(dataRoot))
    , m_programFolder(std::move(programFolder))
{
}

QString FolderTree::terminalId(qint64 terminalNo)
{
    return platform::ZeroPad(4, terminalNo);
}

QString FolderTree::sendFolder(const QString& terminalId) const
{
    return m_dataRoot + terminalId + kSep + QStringLiteral("snd") + kSep;
}

QString FolderTree::receiveFolder(const QString& terminalId) const
{
    return m_dataRoot + terminalId + kSep + QStringLiteral("rcv") + kSep;
}

QString FolderTree::backupFolder(const QString& terminalId) const
{
    return backupRoot() + terminalId + kSep + QStringLiteral("snd") + kSep;
}

QString FolderTree::backupRoot() const
{
    return m_dataRoot + QStringLiteral("backup") + kSep;
}

QString FolderTree::programFile(const QString& name) const
{
    return m_programFolder + kSep + name;
}

} // namespace kavelo::exchange
