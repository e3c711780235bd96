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

} // namespace
