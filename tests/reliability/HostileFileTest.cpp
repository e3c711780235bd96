// Hostile input files at the reading layer: every bad file is refused with its path and line named, the file
// itself is left exactly as it was, and good lines before the bad one come through unchanged.
#include "support/TestSupport.h"

#include "masters/Fields.h"
#include "masters/Masters.h"
#include "platform/TextCodec.h"
#include "shell/Settings.h"

#include <QDir>
#include <QRandomGenerator>

using namespace kavelo;
using namespace kavelo::test;

namespace {

struct ReadOutcome
{
    QStringList lines;
    QString error; // empty: the file read to its end
};

ReadOutcome readWithReader(const QString& path)
{
    ReadOutcome outcome;
    auto reader = platform::ShiftJisLineReader::open(path);
    if (!reader.isOk()) {
        outcome.error = reader.status().message();
        return outcome;
    }
    for (;;) {
        auto next = (*reader)->next();
        if (!next.isOk()) {
            outcome.error = next.status().message();
            return outcome;
        }
        if (!next->has_value()) {
            return outcome;
        }
        outcome.lines << **next;
    }
}

QByteArray binaryJunk(quint32 seed, qsizetype size)
{
    QRandomGenerator rng(seed);
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(rng.bounded(256));
    }
    bytes[0] = '\xFF'; // never valid in Windows-31J: the first line fails whatever the rest holds
    return bytes;
}

} // namespace

TEST(HostileFile, BadRecordFilesAreRefusedWithFileAndLine)
{
    const QByteArray good = sjisLines({QStringLiteral("10001表示ソフト"), QStringLiteral("10002①㈱ﾃｽﾄ")});
    const QByteArray tenMegabytes(10 * 1024 * 1024, 'A');
    struct Case
    {
        const char* name;
        QByteArray content;
        int badLine;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"invalid Windows-31J bytes", good + QByteArray("1\x82\x20\xA0\xFD\r\n"), 3, "not valid Windows-31J"},
        {"lead byte cut off at the end", good + QByteArray("1\x82"), 3, "not valid Windows-31J"},
        {"NUL byte", good + QByteArray("10003AB\0CD\r\n", 12), 3, "NUL byte"},
        {"10 MB line", good + tenMegabytes + "\r\n" + good, 3, "longer than"},
        {"10 MB line without a line end", good + tenMegabytes, 3, "longer than"},
        {"binary junk", binaryJunk(8, 64 * 1024), 1, nullptr}, // invalid bytes or a NUL, whichever comes first
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("SHOMAS.dat"));
        writeFile(path, c.content);
        ReadOutcome outcome = readWithReader(path);
        EXPECT_TRUE(outcome.error.startsWith(QStringLiteral("%1, line %2: ").arg(path).arg(c.badLine)))
            << outcome.error.toStdString();
        if (c.reason) {
            EXPECT_TRUE(outcome.error.contains(QLatin1String(c.reason))) << outcome.error.toStdString();
        }
        EXPECT_EQ(outcome.lines.size(), c.badLine - 1);
        if (c.badLine > 1) {
            EXPECT_EQ(outcome.lines.first(), QStringLiteral("10001表示ソフト"));
        }
        EXPECT_EQ(readFile(path), c.content) << "reading must leave the file as it was";
    }
}

TEST(HostileFile, NamesWithQuotesAndCommasStayWholeAndLoseOnlyTheirCommas)
{
    // 商品名 fields: a name with quotes and commas keeps its quotes and its length; commas become periods so the
    // CSV export keeps its columns.
    const masters::MasterDefinition& product = masters::productMaster();
    const QString name = QStringLiteral("\"ABC\",'DEF'，ｶﾝﾏ");
    bool sawNameField = false;
    for (const masters::Field& field : product.updateFields) {
        if (field.transform != masters::Transform::TrimmedReplaceCommas) {
            continue;
        }
        sawNameField = true;
        SCOPED_TRACE(field.column.toStdString());
        QString line = QString(field.start - 1, u'9') + name.leftJustified(field.length, u' ', true);
        QString value = masters::cutField(line, field);
        EXPECT_FALSE(value.contains(u',')) << value.toStdString();
        EXPECT_FALSE(value.contains(u'\uFF0C')) << value.toStdString();
        EXPECT_EQ(value.count(u'"'), name.left(field.length).count(u'"'));
        EXPECT_EQ(value.count(u'\''), name.left(field.length).count(u'\''));
    }
    EXPECT_TRUE(sawNameField);
}

TEST(HostileFile, SettingsWithJunkLinesKeepTheGoodOnes)
{
    const QString home = QStringLiteral("/prog");
    QByteArray content = sjisLines({
        QStringLiteral("[KAVELO]"),
        QStringLiteral("; 設定ファイル"),
        QStringLiteral("# comment = with equals"),
        QStringLiteral(""),
        QStringLiteral("junk without equals"),
        QStringLiteral("=no key"),
        QStringLiteral("DBname = /db/MasterConv.db "),
        QStringLiteral("dbname=/wrong/case.db"),
        QStringLiteral("Unknown=ignored"),
        QStringLiteral("DATA=/data/HT/"),
        QString(5000, u'x'),
        QStringLiteral("ListenPort = 47200"),
    });
    content += QByteArray("\x01\x02\x7F binary but valid\r\n");
    auto settings = shell::parseSettings(content, home, QStringLiteral("/prog/KAVELO.ini"));
    ASSERT_OK(settings);
    EXPECT_EQ(settings->DBPath, QStringLiteral("/db/MasterConv.db"));
    EXPECT_EQ(settings->DataRoot, QStringLiteral("/data/HT/"));
    EXPECT_EQ(settings->listenPort, 47200);
    EXPECT_EQ(settings->listenAddress, QStringLiteral("127.0.0.1"));
}

TEST(HostileFile, BadSettingsNameFileAndLine)
{
    struct Case
    {
        const char* name;
        QByteArray content;
        int line;
    };
    const std::vector<Case> cases = {
        {"invalid Windows-31J", QByteArray("DBname=/db\r\nDATA=\x82\r\n"), 2},
        {"NUL byte", QByteArray("DBname=/db\r\n\r\nDATA=/a\0b\r\n", sizeof("DBname=/db\r\n\r\nDATA=/a\0b\r\n") - 1), 3},
        {"port not a number", QByteArray("ListenPort=47100\r\nListenPort=abc\r\n"), 2},
        {"port out of range", QByteArray("ListenPort=65536\r\n"), 1},
        {"negative size", QByteArray("junk\r\nMaxFileSize=-5\r\n"), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto settings = shell::parseSettings(c.content, QStringLiteral("/prog"), QStringLiteral("/prog/KAVELO.ini"));
        ASSERT_FALSE(settings.isOk());
        EXPECT_TRUE(settings.status().message().startsWith(QStringLiteral("/prog/KAVELO.ini, line %1: ").arg(c.line)))
            << settings.status().message().toStdString();
    }
}

TEST(HostileFile, OversizedSettingsFileIsRefusedAndJunkIgnoredAndBothKept)
{
    ProgramFolder folder;
    const QString ini = folder.path(QStringLiteral("KAVELO.ini"));
    const QByteArray big = QByteArray("DBname=/db\r\n") + QByteArray(2 * 1024 * 1024, '#');
    writeFile(ini, big);
    auto settings = shell::ReadSettings(folder.home());
    ASSERT_FALSE(settings.isOk());
    EXPECT_TRUE(settings.status().message().startsWith(ini)) << settings.status().message().toStdString();
    EXPECT_EQ(readFile(ini), big);

    // Lines that set no key read are ignored however they look; the log names the first few.
    const QByteArray junk = binaryJunk(3, 4096);
    writeFile(ini, junk);
    settings = shell::ReadSettings(folder.home());
    ASSERT_OK(settings);
    EXPECT_TRUE(settings->DBPath.isEmpty());
    ASSERT_FALSE(settings->warnings.isEmpty());
    EXPECT_LE(settings->warnings.size(), 10);
    EXPECT_TRUE(settings->warnings.first().startsWith(ini + QStringLiteral(", line ")))
        << settings->warnings.first().toStdString();
    EXPECT_EQ(readFile(ini), junk);
}
