#include "exchange/ControlFile.h"

#include "support/TestSupport.h"

#include <QDir>

using kavelo::exchange::FolderTree;
using kavelo::exchange::ReadControlFile;
using kavelo::test::sjis;
using kavelo::test::writeFile;

namespace {

TEST(ControlFile, ReadsFirstLineAndToleratesAnyContent)
{
    QTemporaryDir dir;
    const FolderTree tree(dir.path() + QStringLiteral("/HT/"), dir.path());
    const QString path = dir.path() + QStringLiteral("/CTRL.csv");
    struct Case
    {
        const char* what;
        QByteArray content;
        QString firstLine;
    };
    const Case cases[] = {
        {"two lines", "001,A\r\n002,B\r\n", QStringLiteral("001,A")},
        {"no line end", "001", QStringLiteral("001")},
        {"bare LF", "007\nrest", QStringLiteral("007")},
        {"empty file", "", QString()},
        {"empty first line", "\r\n002\r\n", QString()},
        {"Shift-JIS", sjis(QStringLiteral("端末,０１")) + "\r\n", QStringLiteral("端末,０１")},
        {"invalid bytes", "001\x81\xff\xfe\r\n", QStringLiteral("001")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path, c.content);
        kavelo::platform::Result<QString> line = ReadControlFile(tree);
        ASSERT_OK(line);
        EXPECT_EQ(*line, c.firstLine);
        EXPECT_TRUE(QFile::exists(path));
    }
}

TEST(ControlFile, MissingFileIsErrorNamingPath)
{
    QTemporaryDir dir;
    const FolderTree tree(dir.path() + QStringLiteral("/HT/"), dir.path());
    kavelo::platform::Result<QString> line = ReadControlFile(tree);
    ASSERT_FALSE(line.isOk());
    EXPECT_TRUE(line.status().message().contains(dir.path() + QStringLiteral("/CTRL.csv")))
        << line.status().message().toStdString();
}

TEST(FolderTree, TerminalIdAndPaths)
{
    const FolderTree tree(QStringLiteral("/d/HT/"), QStringLiteral("/prog"));
    EXPECT_EQ(FolderTree::terminalId(1), QStringLiteral("0001"));
    EXPECT_EQ(FolderTree::terminalId(11), QStringLiteral("0011"));
    EXPECT_EQ(FolderTree::terminalId(12345), QStringLiteral("12345"));
    EXPECT_EQ(tree.sendFile(QStringLiteral("0001"), QStringLiteral("S_HACH.dat")),
              QStringLiteral("/d/HT/0001/snd/S_HACH.dat"));
    EXPECT_EQ(tree.receiveFile(QStringLiteral("0001"), QStringLiteral("BUNMAS.sav")),
              QStringLiteral("/d/HT/0001/rcv/BUNMAS.sav"));
    EXPECT_EQ(tree.backupFile(QStringLiteral("0001"), QStringLiteral("20240102030405_S_HACH.dat")),
              QStringLiteral("/d/HT/backup/0001/snd/20240102030405_S_HACH.dat"));
    EXPECT_EQ(tree.programFile(QStringLiteral("CTRL.csv")), QStringLiteral("/prog/CTRL.csv"));
    const FolderTree bare(QStringLiteral("/d/HT"), QStringLiteral("/prog"));
    EXPECT_EQ(bare.sendFolder(QStringLiteral("0007")), QStringLiteral("/d/HT0007/snd/"));
}

} // namespace
