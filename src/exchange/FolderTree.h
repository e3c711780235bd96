#ifndef KAVELO_EXCHANGE_FOLDERTREE_H
#define KAVELO_EXCHANGE_FOLDERTREE_H

#include <QString>

namespace kavelo::exchange {

// The one place where paths of the terminal folder tree and the program folder are formed. DataRoot is a plain
// prefix (it should end with a separator; without one the terminal ID runs into the last folder name).
//   send folder     DataRoot + ID + "/snd/"
//   receive folder  DataRoot + ID + "/rcv/"
//   backup folder   DataRoot + "backup/" + ID + "/snd/"
//   program folder  programFolder + "/" + name
class FolderTree
{
  public:
    FolderTree(QString dataRoot, QString programFolder);

    // ZeroPad(4, terminal number): 7 gives 0007, 12345 gives 12345.
    static QString terminalId(qint64 terminalNo);

    QString sendFolder(const QString& terminalId) const;
    QString receiveFolder(const QString& terminalId) const;
    QString backupFolder(const QString& terminalId) const;
    // The backup tree itself: DataRoot + "backup/", which holds a folder per terminal ID.
    QString backupRoot() const;

    QString sendFile(const QString& terminalId, const QString& name) const { return sendFolder(terminalId) + name; }
    QString receiveFile(const QString& terminalId, const QString& name) const
    {
        return receiveFolder(terminalId) + name;
    }
    QString backupFile(const QString& terminalId, const QString& name) const { return backupFolder(terminalId) + name; }
    QString programFile(const QString& name) const;

    const QString& dataRoot() const { return m_dataRoot; }
    const QString& programFolder() const { return m_programFolder; }

  private:
    QString m_dataRoot;
    QString m_programFolder;
};

} // namespace kavelo::exchange

#endif
