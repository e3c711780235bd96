#include "platform/TextCodec.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace kavelo::platform {
namespace {

using test::readFile;
using test::writeFile;

class TextCodecTest : public ::testing::Test
{
  protected:
    QString path(const QString& name) const { return QDir(m_dir.path()).filePath(name); }

    QStringList readAll(const QString& file, Status* failure = nullptr)
    {
        QStringList lines;
        auto reader = ShiftJisLineReader::open(file);
        EXPECT_TRUE(reader.isOk());
        if (!reader.isOk()) {
            return lines;
        }
        for (;;) {
            auto line = (*reader)->next();
            if (!line.isOk()) {
                if (failure) {
                    *failure = line.status();
                }
                return lines;
            }
            if (!line->has_value()) {
                return lines;
            }
            lines << **line;
        }
    }

    QTemporaryDir m_dir;
};

TEST_F(TextCodecTest, DecodesWindows31jIncludingExtensionCharacters)
{
    // 表 and ソ have 0x5C as their second byte; ① and ㈱ are NEC row 13; 纊 is an IBM extension (0xFA5C);
    // ｱ is half-width katakana; 0x5C alone is a backslash.
    const QByteArray bytes("\x95\x5c\x83\x5c\x87\x40\x87\x8a\xfa\x5c\xb1\x5c\x7e", 13);
    Result<QString> text = decodeShiftJis(bytes);
    ASSERT_OK(text);
    EXPECT_EQ(*text, QStringLiteral("表ソ①㈱纊ｱ\\~"));
    Result<QByteArray> back = encodeShiftJis(*text);
    ASSERT_OK(back);
    EXPECT_EQ(*back, bytes);
}

TEST_F(TextCodecTest, ReadsLinesWithCrLfAndAFinalLineWithoutOne)
{
    writeFile(path("a.dat"), test::sjis(QStringLiteral("1表\r\n\r\n2ソ\n3①")));
    EXPECT_EQ(readAll(path("a.dat")),
              (QStringList{QStringLiteral("1表"), QStringLiteral(""), QStringLiteral("2ソ"), QStringLiteral("3①")}));
    writeFile(path("b.dat"), QByteArray("A\r\n"));
    EXPECT_EQ(readAll(path("b.dat")), QStringList{QStringLiteral("A")});
    writeFile(path("empty.dat"), QByteArray());
    EXPECT_TRUE(readAll(path("empty.dat")).isEmpty());
}

TEST_F(TextCodecTest, ReadsLinesAcrossChunkBoundaries)
{
    QByteArray content;
    QStringList expected;
    for (int i = 0; i < 20000; ++i) {
        QString line = QStringLiteral("%1表ソ①ｱ").arg(i, 6, 10, QLatin1Char('0'));
        expected << line;
        content += test::sjis(line) + "\r\n";
    }
    writeFile(path("big.dat"), content);
    EXPECT_EQ(readAll(path("big.dat")), expected);
}

TEST_F(TextCodecTest, InvalidBytesAreAnErrorNamingFileAndLine)
{
    struct Case
    {
        const char* name;
        QByteArray bad;
        const char* reason;
    };
    const Case cases[] = {
        {"lone lead byte", QByteArray("\x81\x20", 2), "not valid Windows-31J"},
        {"truncated at line end", QByteArray("AB\x81", 3), "not valid Windows-31J"},
        {"undefined byte", QByteArray("\xa0", 1), "not valid Windows-31J"},
        {"NUL byte", QByteArray("A\0B", 3), "NUL byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path("bad.dat"), QByteArray("good\r\nalso good\r\n") + c.bad + "\r\nnever read\r\n");
        Status failure;
        QStringList lines = readAll(path("bad.dat"), &failure);
        EXPECT_EQ(lines.size(), 2);
        ASSERT_FALSE(failure.isOk());
        EXPECT_TRUE(failure.message().contains(path("bad.dat") + QStringLiteral(", line 3: ")))
            << failure.message().toStdString();
        EXPECT_TRUE(failure.message().contains(QLatin1String(c.reason))) << failure.message().toStdString();
    }
}

TEST_F(TextCodecTest, OverlongLineIsRefusedWithoutReadingItWhole)
{
    QByteArray content = "short\r\n" + QByteArray(3 * 1024 * 1024, 'A') + "\r\n";
    writeFile(path("long.dat"), content);
    Status failure;
    QStringList lines = readAll(path("long.dat"), &failure);
    EXPECT_EQ(lines, QStringList{QStringLiteral("short")});
    ASSERT_FALSE(failure.isOk());
    EXPECT_TRUE(failure.message().contains(QStringLiteral("line 2: line is longer than")))
        << failure.message().toStdString();
}

TEST_F(TextCodecTest, MissingFileIsAnErrorNamingIt)
{
    auto reader = ShiftJisLineReader::open(path("missing.dat"));
    ASSERT_FALSE(reader.isOk());
    EXPECT_TRUE(reader.status().message().startsWith(path("missing.dat")));
}

TEST_F(TextCodecTest, WriterReplacesTheTargetOnlyOnCommit)
{
    const QString target = path("SHOMAS.csv");
    writeFile(target, QByteArray("old\r\n"));
    {
        auto writer = ShiftJisLineWriter::create(target);
        ASSERT_OK(writer);
        ASSERT_OK((*writer)->writeLine(u"新,①"));
        EXPECT_EQ(readFile(target), QByteArray("old\r\n")); // not yet
        // destroyed without commit: the old file stays
    }
    EXPECT_EQ(readFile(target), QByteArray("old\r\n"));

    auto writer = ShiftJisLineWriter::create(target);
    ASSERT_OK(writer);
    ASSERT_OK((*writer)->writeLine(u"新,①"));
    ASSERT_OK((*writer)->writeLine(u""));
    ASSERT_OK((*writer)->commit());
    EXPECT_EQ(readFile(target), test::sjis(QStringLiteral("新,①")) + "\r\n\r\n");
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left behind
}

TEST_F(TextCodecTest, UnencodableCharacterIsRefusedWithItsCodePoint)
{
    auto writer = ShiftJisLineWriter::create(path("out.csv"));
    ASSERT_OK(writer);
    ASSERT_OK((*writer)->writeLine(u"ok"));
    Status refused = (*writer)->writeLine(u"A€B");
    ASSERT_FALSE(refused.isOk());
    EXPECT_TRUE(refused.message().contains(QStringLiteral("line 2"))) << refused.message().toStdString();
    EXPECT_TRUE(refused.message().contains(QStringLiteral("U+20AC"))) << refused.message().toStdString();
    // The writer stays usable for valid text after a refused line.
    EXPECT_OK((*writer)->writeLine(u"表"));

    Result<QByteArray> emoji = encodeShiftJis(u"\U0001F600");
    ASSERT_FALSE(emoji.isOk());
    EXPECT_TRUE(emoji.status().message().contains(QStringLiteral("U+1F600")));
}

// The database hands text over as UTF-8; written from there it must give the same bytes as from UTF-16, and
// refuse what Windows-31J cannot hold or what is not UTF-8 at all.
TEST_F(TextCodecTest, Utf8LinesEncodeLikeUtf16Lines)
{
    // Half-width kana, NEC and IBM extension characters, backslash and tilde, and the control characters whose table
    // entries differ from ASCII.
    const QString text = QStringLiteral("ｱｲｳ,漢字,①Ⅰ,纊,\\~") + QChar(0x1A) + QChar(0x1C) + QChar(0x7F) + QChar(u'\t');
    const QString fromUtf16 = path("utf16.csv");
    const QString fromUtf8 = path("utf8.csv");
    for (auto [target, utf8] : {std::pair{fromUtf16, false}, std::pair{fromUtf8, true}}) {
        auto writer = ShiftJisLineWriter::create(target);
        ASSERT_OK(writer);
        for (int i = 0; i < 2; ++i) { // the second time from the kept table
            ASSERT_OK(utf8 ? (*writer)->writeLineUtf8(text.toUtf8()) : (*writer)->writeLine(text));
        }
        ASSERT_OK((*writer)->commit());
    }
    ASSERT_OK(encodeShiftJis(text));
    const QByteArray expected = *encodeShiftJis(text) + "\r\n";
    EXPECT_EQ(readFile(fromUtf16), expected + expected);
    EXPECT_EQ(readFile(fromUtf8), expected + expected);

    auto writer = ShiftJisLineWriter::create(path("bad.csv"));
    ASSERT_OK(writer);
    struct Bad
    {
        const char* name;
        QByteArray bytes;
        const char* reported;
    };
    const Bad bad[] = {
        {"euro sign", QStringLiteral("A€").toUtf8(), "U+20AC"},
        {"beyond the BMP", QStringLiteral("\U0001F600").toUtf8(), "U+1F600"},
        {"cut short", QByteArray("A\xE6\xBC"), "line"},
        {"over-long form of '/'", QByteArray("\xC0\xAF"), "line"},
        {"encoded surrogate", QByteArray("\xED\xA0\x80"), "line"},
        {"stray continuation byte", QByteArray("\x80"), "line"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        Status refused = (*writer)->writeLineUtf8(b.bytes);
        ASSERT_FALSE(refused.isOk());
        EXPECT_TRUE(refused.message().contains(QLatin1String(b.reported))) << refused.message().toStdString();
    }
    ASSERT_OK((*writer)->writeLineUtf8("ok"));
    ASSERT_OK((*writer)->commit());
    EXPECT_EQ(readFile(path("bad.csv")), QByteArray("ok\r\n")); // refused lines leave nothing behind
}

// The codec keeps what the converter answers for each byte sequence and code point; over the whole space of
// one- and two-byte sequences and of BMP code points it must agree with the converter, alone and in a run.
TEST(TextCodecTable, AgreesWithTheConverterEverywhere)
{
    auto reference = [](QByteArrayView bytes) -> std::optional<QString> {
        QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
        QString text = decoder(bytes);
        return decoder.hasError() ? std::nullopt : std::optional<QString>(text);
    };
    QByteArray run; // every valid sequence, one after another
    QString runText;
    for (int first = 0; first < 0x100; ++first) {
        for (int second = -1; second < 0x100; ++second) {
            QByteArray bytes(1, char(first));
            if (second >= 0) {
                bytes += char(second);
            }
            if (bytes.contains('\0')) {
                continue; // refused before decoding
            }
            const std::optional<QString> expected = reference(bytes);
            const Result<QString> actual = decodeShiftJis(bytes);
            ASSERT_EQ(actual.isOk(), expected.has_value()) << bytes.toHex().toStdString();
            if (expected) {
                ASSERT_EQ(*actual, *expected) << bytes.toHex().toStdString();
                run += bytes;
                runText += *expected;
            }
        }
    }
    const Result<QString> decodedRun = decodeShiftJis(run);
    ASSERT_OK(decodedRun);
    EXPECT_EQ(*decodedRun, runText);

    QString encodable;
    for (char32_t cp = 1; cp < 0x10000; ++cp) {
        const QChar ch(static_cast<char16_t>(cp));
        QStringEncoder encoder("windows-31j", QStringConverter::Flag::Stateless);
        const QByteArray expected = encoder(QStringView(&ch, 1));
        const Result<QByteArray> actual = encodeShiftJis(QStringView(&ch, 1));
        ASSERT_EQ(actual.isOk(), !encoder.hasError()) << std::hex << uint(cp);
        if (actual.isOk()) {
            ASSERT_EQ(*actual, expected) << std::hex << uint(cp);
            encodable += ch;
        }
    }
    QStringEncoder encoder("windows-31j", QStringConverter::Flag::Stateless);
    const QByteArray expectedRun = encoder(encodable);
    ASSERT_OK(encodeShiftJis(encodable));
    EXPECT_EQ(*encodeShiftJis(encodable), expectedRun);
}

// Printable ASCII is taken many bytes at a time: any other byte, at any place in a long run, must still decode as
// the converter decodes it (or be refused with it).
TEST(TextCodecTable, OtherBytesAnywhereInAsciiRunsDecodeAsTheConverterDoes)
{
    const QByteArray others[] = {"\x7F", "\x1A", "\x1C", "\x09", "\xB1", "\x88\x9F", "\x81\x40", "\x00", "\xFD"};
    for (const QByteArray& other : others) {
        for (int place = 0; place < 40; ++place) {
            SCOPED_TRACE(other.toHex().toStdString() + " at " + std::to_string(place));
            QByteArray bytes(48, 'A');
            for (int i = 0; i < bytes.size(); ++i) {
                bytes[i] = char(0x20 + (i * 7) % 0x5F); // every printable ASCII byte, 0x7E included
            }
            bytes.insert(place, other);
            QStringDecoder decoder("windows-31j", QStringConverter::Flag::Stateless);
            const QString expected = decoder(bytes);
            const Result<QString> actual = decodeShiftJis(bytes);
            ASSERT_EQ(actual.isOk(), !decoder.hasError() && !other.contains('\0'));
            if (actual.isOk()) {
                EXPECT_EQ(*actual, expected);
            }
        }
    }
}

} // namespace
} // namespace kavelo::platform
