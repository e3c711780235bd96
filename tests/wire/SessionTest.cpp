#include "wire/Session.h"

#include "support/TestSupport.h"
#include "transfer/CommServer.h"
#include "wire/Deflate.h"

#include <QMap>

namespace kavelo::wire {
namespace {

using platform::Status;

// Keeps everything in memory and records what the session did.
class MemoryHost : public SessionHost
{
  public:
    void send(const QByteArray& bytes) override { sent += bytes; }
    void close() override { ++closes; }
    void transferStatus(qint16 kind, const QString& name) override
    {
        events << QStringLiteral("%1 %2").arg(kind).arg(name);
    }
    Status uploadBegin(const QString&, qint64) override
    {
        uploading = true;
        temporary.clear();
        return beginFails ? Status::error(QStringLiteral("disk full")) : Status::ok();
    }
    Status uploadWrite(QByteArrayView bytes) override
    {
        if (writeFails) {
            return Status::error(QStringLiteral("disk error"));
        }
        temporary += bytes.toByteArray();
        return Status::ok();
    }
    Status uploadCommit(const QString& name) override
    {
        files[name] = temporary;
        uploading = false;
        return Status::ok();
    }
    void uploadDiscard() override
    {
        ++discards;
        uploading = false;
        temporary.clear();
    }
    TransferOutcome fileSaved(const QString& name) override
    {
        events << QStringLiteral("3 %1").arg(name);
        TransferOutcome outcome;
        if (!handlingFails.isEmpty()) {
            outcome.status = Status::error(handlingFails);
        }
        if (name == QLatin1String("CTRL.csv")) {
            outcome.staged = stageOnControl;
        }
        return outcome;
    }
    bool helloReceived(int terminalNo) override
    {
        hellos << terminalNo;
        return admitAtOnce;
    }
    std::optional<Status> sendStaged(const QString& name, bool deflate) override
    {
        if (!files.contains(name)) {
            return Status::error(QStringLiteral("missing"));
        }
        const QByteArray content = files.value(name);
        const quint32 crc = crc32Update(0, content);
        if (deflate) {
            const QByteArray z = deflateAll(content);
            sent += zfileLine(name, content.size(), crc, z.size()) + z;
        } else {
            sent += fileLine(name, content.size(), crc) + content;
        }
        if (sendLater) {
            return std::nullopt;
        }
        return Status::ok();
    }

    QByteArray takeSent()
    {
        QByteArray out = sent;
        sent.clear();
        return out;
    }

    QByteArray sent;
    int closes = 0;
    int discards = 0;
    QStringList events;
    QMap<QString, QByteArray> files;
    QByteArray temporary;
    bool uploading = false;
    bool beginFails = false;
    bool writeFails = false;
    QString handlingFails;
    QStringList stageOnControl;
    QList<int> hellos;
    bool admitAtOnce = true;
    bool sendLater = false; // frames go out, but sendStaged reports later
};

QByteArray putFrame(const QString& name, const QByteArray& content)
{
    return putLine(name, content.size(), crc32Update(0, content)) + content;
}

class SessionTest : public ::testing::Test
{
  protected:
    SessionTest()
        : session(config(), host)
    {
    }

    static SessionConfig config()
    {
        SessionConfig c;
        c.maxFileSize = 100;
        c.protectedNames = {QStringLiteral("KAVELO.ini"), QStringLiteral("kavelo.log"), QStringLiteral("kavelo")};
        return c;
    }

    void hello(int terminal = 3)
    {
        session.feed(helloLine(terminal));
        ASSERT_EQ(host.takeSent(), QByteArray("OK KAVELO 1\n"));
    }

    MemoryHost host;
    Session session;
};

TEST_F(SessionTest, AnythingBeforeAValidHelloIsRefusedAndCloses)
{
    const char* lines[] = {"GET\n",
                           "BYE\n",
                           "PUT a 1 00000000\nx",
                           "HELLO 0\n",
                           "HELLO -1\n",
                           "HELLO 10000\n",
                           "HELLO abc\n",
                           "HELLO\n",
                           "\n",
                           "NOPE\n"};
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        MemoryHost h;
        Session s(config(), h);
        s.feed(QByteArray(line));
        EXPECT_TRUE(h.sent.startsWith("ERR ")) << h.sent.constData();
        EXPECT_EQ(h.closes, 1);
        EXPECT_TRUE(s.closed());
        EXPECT_TRUE(h.files.isEmpty());
        EXPECT_TRUE(h.events.isEmpty());
    }
}

TEST_F(SessionTest, AcceptsCrLfAndLeadingZeros)
{
    session.feed("HELLO 0012\r\n");
    EXPECT_EQ(host.takeSent(), QByteArray("OK KAVELO 1\n"));
    EXPECT_EQ(session.terminalNo(), 12);
}

TEST_F(SessionTest, AHeaderOverTheLimitIsRefusedWithoutBufferingMore)
{
    QByteArray longLine(2000, 'A');
    const qsizetype consumed = session.feed(longLine);
    EXPECT_LE(consumed, kMaxHeaderBytes);
    EXPECT_TRUE(host.sent.startsWith("ERR "));
    EXPECT_TRUE(session.closed());

    // Exactly 1,024 bytes with the LF is still a header (a malformed one here, but not "too long").
    MemoryHost h;
    Session s(config(), h);
    s.feed(QByteArray(1023, 'A') + '\n');
    EXPECT_EQ(h.sent, QByteArray("ERR unknown command\n"));
}

TEST_F(SessionTest, PutInPiecesSavesAndAnswersOk)
{
    hello();
    const QByteArray frame = putFrame(QStringLiteral("S_HACH.dat"), "0123456789") + "BYE\n";
    for (char c : frame) {
        session.feed(QByteArrayView(&c, 1));
    }
    EXPECT_EQ(host.files.value(QStringLiteral("S_HACH.dat")), QByteArray("0123456789"));
    EXPECT_EQ(host.events, (QStringList{"1 S_HACH.dat", "2 S_HACH.dat", "3 S_HACH.dat"}));
    EXPECT_EQ(host.sent, QByteArray("OK\nOK\n"));
    EXPECT_TRUE(session.closed());
}

TEST_F(SessionTest, AnEmptyFileIsSaved)
{
    hello();
    session.feed(putFrame(QStringLiteral("empty.txt"), QByteArray()));
    EXPECT_TRUE(host.files.contains(QStringLiteral("empty.txt")));
    EXPECT_EQ(host.takeSent(), QByteArray("OK\n"));
}

TEST_F(SessionTest, WrongCrcDiscardsReportsAndTheSessionGoesOn)
{
    hello();
    session.feed(putLine(QStringLiteral("S_HACH.dat"), 3, 0x12345678u) + "abc");
    EXPECT_FALSE(host.files.contains(QStringLiteral("S_HACH.dat")));
    EXPECT_EQ(host.discards, 1);
    EXPECT_EQ(host.events, (QStringList{"1 S_HACH.dat", "2 S_HACH.dat", "4 S_HACH.dat"}));
    EXPECT_EQ(host.takeSent(), QByteArray("ERR crc32 mismatch\n"));
    EXPECT_FALSE(session.closed());
    session.feed(putFrame(QStringLiteral("S_HACH.dat"), "abc"));
    EXPECT_EQ(host.takeSent(), QByteArray("OK\n"));
}

TEST_F(SessionTest, RefusedPutHeadersCloseBeforeAnyByteIsStored)
{
    const QByteArray headers[] = {
        "PUT ../x 1 00000000\n",
        "PUT .. 1 00000000\n",
        "PUT a/b 1 00000000\n",
        "PUT big.dat 101 00000000\n",
        "PUT KAVELO.ini 1 00000000\n",
        "PUT kavelo.INI 1 00000000\n",
        "PUT Kavelo.Log 1 00000000\n",
        "PUT KAVELO 1 00000000\n",
        "PUT a 1 xyz\n",
        "PUT a x 00000000\n",
        "HELLO 3\n",
        "STAT\n",
    };
    for (const QByteArray& header : headers) {
        SCOPED_TRACE(header.constData());
        MemoryHost h;
        Session s(config(), h);
        s.feed(helloLine(3));
        h.takeSent();
        s.feed(header + "x");
        EXPECT_TRUE(h.sent.startsWith("ERR ")) << h.sent.constData();
        EXPECT_TRUE(s.closed());
        EXPECT_FALSE(h.uploading);
        EXPECT_TRUE(h.files.isEmpty());
    }
}

TEST_F(SessionTest, ADroppedConnectionMidUploadDiscardsIt)
{
    hello();
    session.feed(putLine(QStringLiteral("S_TANA.dat"), 10, 0) + "abc");
    session.connectionLost();
    EXPECT_EQ(host.discards, 1);
    EXPECT_TRUE(host.files.isEmpty());
    EXPECT_EQ(host.events.last(), QStringLiteral("4 S_TANA.dat"));
    EXPECT_TRUE(session.closed());
}

TEST_F(SessionTest, IdleTimeoutMidUploadDiscardsAndCloses)
{
    hello();
    session.feed(putLine(QStringLiteral("S_TANA.dat"), 10, 0) + "abc");
    session.idleTimeout();
    EXPECT_EQ(host.events.last(), QStringLiteral("4 S_TANA.dat"));
    EXPECT_EQ(host.takeSent(), QByteArray("ERR idle timeout\n"));
    EXPECT_EQ(host.closes, 1);
    EXPECT_TRUE(host.files.isEmpty());
}

TEST_F(SessionTest, WriteFailureIsAnsweredAfterTheBytesAndTheSessionGoesOn)
{
    hello();
    host.writeFails = true;
    session.feed(putFrame(QStringLiteral("S_HACH.dat"), "abcdef"));
    EXPECT_EQ(host.takeSent(), QByteArray("ERR cannot store the file: disk error\n"));
    EXPECT_EQ(host.events.last(), QStringLiteral("4 S_HACH.dat"));
    EXPECT_TRUE(host.files.isEmpty());
    host.writeFails = false;
    session.feed("GET\n");
    EXPECT_EQ(host.takeSent(), QByteArray("END 0\n"));
}

TEST_F(SessionTest, AFailedHandlingIsAnsweredErr)
{
    hello();
    host.handlingFails = QStringLiteral("no send folder");
    session.feed(putFrame(QStringLiteral("S_HACH.dat"), "abc"));
    EXPECT_EQ(host.takeSent(), QByteArray("ERR S_HACH.dat saved but its handling failed: no send folder\n"));
    EXPECT_FALSE(session.closed());
}

TEST_F(SessionTest, GetSendsTheSetOfTheLatestControlFile)
{
    hello();
    session.feed("GET\n");
    EXPECT_EQ(host.takeSent(), QByteArray("END 0\n")); // no CTRL.csv yet

    host.files[QStringLiteral("BUNMAS.csv")] = "b";
    host.files[QStringLiteral("SHOMAS.csv")] = "s";
    host.files[QStringLiteral("JISYA.csv")] = "left by another terminal";
    host.stageOnControl = {QStringLiteral("BUNMAS.csv"), QStringLiteral("SHOMAS.csv")};
    session.feed(putFrame(QStringLiteral("CTRL.csv"), "x"));
    EXPECT_EQ(host.takeSent(), QByteArray("OK\n"));
    host.events.clear();
    session.feed("GET\nGET\n");
    const QByteArray once = fileLine(QStringLiteral("BUNMAS.csv"), 1, crc32Update(0, "b")) + "b" +
                            fileLine(QStringLiteral("SHOMAS.csv"), 1, crc32Update(0, "s")) + "s" + "END 2\n";
    EXPECT_EQ(host.takeSent(), once + once);
    EXPECT_EQ(host.events.first(), QStringLiteral("0 BUNMAS.csv"));

    // A control file that fails its check leaves the set in force; one that stages nothing empties it.
    session.feed(putLine(QStringLiteral("CTRL.csv"), 1, 0) + "x");
    host.takeSent();
    EXPECT_EQ(session.stagedSet().size(), 2);
    host.stageOnControl = {};
    session.feed(putFrame(QStringLiteral("CTRL.csv"), "y"));
    host.takeSent();
    session.feed("GET\n");
    EXPECT_EQ(host.takeSent(), QByteArray("END 0\n"));
}

TEST_F(SessionTest, GetDeflateSendsZfileFramesThatInflateToTheFiles)
{
    hello();
    host.files[QStringLiteral("SHOMAS.csv")] = QByteArray(5000, 's');
    host.stageOnControl = {QStringLiteral("SHOMAS.csv")};
    session.feed(putFrame(QStringLiteral("CTRL.csv"), "x"));
    host.takeSent();
    session.feed("GET deflate\n");
    const QByteArray z = deflateAll(QByteArray(5000, 's'));
    EXPECT_EQ(host.takeSent(),
              zfileLine(QStringLiteral("SHOMAS.csv"), 5000, crc32Update(0, QByteArray(5000, 's')), z.size()) + z +
                  "END 1\n");
    QByteArray inflated;
    Inflater inflater;
    ASSERT_OK(inflater.add(z, inflated));
    EXPECT_TRUE(inflater.finished());
    EXPECT_EQ(inflated, QByteArray(5000, 's'));
}

// A session that waits for its place, or for a frame to go out, takes no bytes meanwhile; they are fed again later.
TEST_F(SessionTest, WaitingForAPlaceOrASendLeavesTheNextCommandUnread)
{
    host.admitAtOnce = false;
    EXPECT_EQ(session.feed("HELLO 4\nBYE\n"), 8);
    EXPECT_EQ(host.hellos, QList<int>{4});
    EXPECT_TRUE(host.sent.isEmpty());
    session.admit();
    EXPECT_EQ(host.takeSent(), QByteArray("OK KAVELO 1\n"));

    host.files[QStringLiteral("BUNMAS.csv")] = "b";
    host.stageOnControl = {QStringLiteral("BUNMAS.csv")};
    session.feed(putFrame(QStringLiteral("CTRL.csv"), "x"));
    host.takeSent();
    host.sendLater = true;
    EXPECT_EQ(session.feed("GET\nBYE\n"), 4);
    EXPECT_EQ(session.state(), Session::State::Sending);
    session.stagedSent(Status::ok());
    EXPECT_EQ(host.takeSent(), fileLine(QStringLiteral("BUNMAS.csv"), 1, crc32Update(0, "b")) + "b" + "END 1\n");
    EXPECT_EQ(session.feed("BYE\n"), 4);
    EXPECT_TRUE(session.closed());
}

TEST_F(SessionTest, EndingForAServerReasonDiscardsTheUploadAndSaysWhy)
{
    hello();
    session.feed(putLine(QStringLiteral("S_HACH.dat"), 10, 0) + "abc");
    session.end(QStringLiteral("listening stopped"));
    EXPECT_EQ(host.events.last(), QStringLiteral("4 S_HACH.dat"));
    EXPECT_EQ(host.takeSent(), QByteArray("ERR listening stopped\n"));
    EXPECT_EQ(host.closes, 1);
    EXPECT_TRUE(host.files.isEmpty());
}

TEST_F(SessionTest, ALowerCaseControlFileStagesNothing)
{
    hello();
    host.stageOnControl = {QStringLiteral("BUNMAS.csv")};
    session.feed(putFrame(QStringLiteral("ctrl.csv"), "x"));
    EXPECT_TRUE(session.stagedSet().isEmpty());
}

TEST_F(SessionTest, AStagedFileThatCannotBeReadEndsGetWithErr)
{
    hello();
    host.stageOnControl = {QStringLiteral("BUNMAS.csv")};
    session.feed(putFrame(QStringLiteral("CTRL.csv"), "x"));
    host.takeSent();
    session.feed("GET\n");
    EXPECT_EQ(host.takeSent(), QByteArray("ERR cannot read BUNMAS.csv\n"));
    EXPECT_TRUE(session.closed());
}

} // namespace
} // namespace kavelo::wire
