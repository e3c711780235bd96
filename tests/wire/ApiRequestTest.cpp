#include "wire/ApiRequest.h"

#include "wire/HttpRequestReader.h"
#include "wire/MasterAnswer.h"

#include "platform/FileOps.h"

#include <QDir>
#include <QTemporaryDir>

#include "support/TestSupport.h"

namespace kavelo::wire {
namespace {

TEST(ApiRequestTest, PathsAreTakenOnlyAsTheyStand)
{
    struct Case
    {
        const char* method;
        const char* target;
        int status; // 0: routed
        ApiCall call;
        int terminal;
        const char* name;
    };
    const Case cases[] = {
        {"PUT", "/v1/terminals/3/files/S_HACH.dat", 0, ApiCall::PutFile, 3, "S_HACH.dat"},
        {"PUT", "/v1/terminals/0012/files/CTRL.csv?x=1", 0, ApiCall::PutFile, 12, "CTRL.csv"},
        {"GET", "/v1/terminals/9999/masters", 0, ApiCall::ListMasters, 9999, ""},
        {"HEAD", "/v1/terminals/1/masters/SHOMAS.csv", 0, ApiCall::GetMaster, 1, "SHOMAS.csv"},
        {"PUT", "/v1/terminals/3/files/..", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/../KAVELO.ini", 404, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/..%2FKAVELO.ini", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/%53_HACH.dat", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/C:x", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/.hidden", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/3/files/", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/0/files/x", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/10000/files/x", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/-1/files/x", 400, ApiCall::PutFile, 0, ""},
        {"PUT", "/v1/terminals/abc/files/x", 400, ApiCall::PutFile, 0, ""},
        {"GET", "/v1/terminals/3/files/x", 405, ApiCall::PutFile, 0, ""},
        {"DELETE", "/v1/terminals/3/masters/x", 405, ApiCall::PutFile, 0, ""},
        {"GET", "/v1/terminals/3", 404, ApiCall::PutFile, 0, ""},
        {"GET", "/", 404, ApiCall::PutFile, 0, ""},
        {"GET", "//v1/terminals/3/masters", 404, ApiCall::PutFile, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        auto [target, refusal] = routeRequest(c.method, c.target);
        if (c.status != 0) {
            EXPECT_FALSE(target.has_value());
            EXPECT_EQ(refusal.status, c.status) << refusal.reason.toStdString();
            continue;
        }
        ASSERT_TRUE(target.has_value()) << refusal.reason.toStdString();
        EXPECT_EQ(target->call, c.call);
        EXPECT_EQ(target->terminalNo, c.terminal);
        EXPECT_EQ(target->name, QString::fromLatin1(c.name));
    }
    EXPECT_EQ(routeRequest("POST", "/v1/terminals/3/files/x").second.allow, QByteArray("PUT"));
}

TEST(ApiRequestTest, RangesDigestsCodingsAndKeysAsTheirRfcsWriteThem)
{
    using Kind = ByteRange::Kind;
    struct RangeCase
    {
        const char* field;
        Kind kind;
        qint64 first;
        qint64 last;
    };
    const RangeCase ranges[] = {
        {"bytes=0-9", Kind::Part, 0, 9},
        {"bytes=10-", Kind::Part, 10, 99},
        {"bytes=-5", Kind::Part, 95, 99},
        {"bytes=90-500", Kind::Part, 90, 99},
        {"bytes=-500", Kind::Part, 0, 99},
        {"bytes=100-", Kind::Unsatisfiable, 0, 0},
        {"bytes=-0", Kind::Unsatisfiable, 0, 0},
        {"bytes=5-2", Kind::Whole, 0, 0},
        {"bytes=0-1,5-6", Kind::Whole, 0, 0},
        {"items=0-9", Kind::Whole, 0, 0},
        {"bytes=a-b", Kind::Whole, 0, 0},
        {"bytes=-", Kind::Whole, 0, 0},
    };
    for (const RangeCase& c : ranges) {
        SCOPED_TRACE(c.field);
        const ByteRange range = parseRange(c.field, 100);
        EXPECT_EQ(range.kind, c.kind);
        if (c.kind == Kind::Part) {
            EXPECT_EQ(range.first, c.first);
            EXPECT_EQ(range.last, c.last);
        }
    }
    EXPECT_EQ(parseRange("bytes=0-", 0).kind, Kind::Unsatisfiable);

    const QByteArray digest(32, '\x5a');
    const QByteArray field = "sha-256=:" + digest.toBase64() + ":";
    EXPECT_EQ(contentDigestSha256(field), digest);
    EXPECT_EQ(contentDigestSha256("sha-512=:AAAA:, " + field), digest);
    EXPECT_FALSE(contentDigestSha256("sha-512=:" + digest.toBase64() + ":").has_value());
    EXPECT_FALSE(contentDigestSha256("sha-256=" + digest.toBase64()).has_value()); // no colons
    EXPECT_FALSE(contentDigestSha256("sha-256=:" + digest.left(31).toBase64() + ":").has_value());
    EXPECT_FALSE(contentDigestSha256("sha-256=:not base64!:").has_value());

    EXPECT_EQ(chooseCoding("gzip, deflate, br"), Coding::Gzip);
    EXPECT_EQ(chooseCoding("deflate"), Coding::Deflate);
    EXPECT_EQ(chooseCoding("gzip;q=0, deflate;q=0.5"), Coding::Deflate);
    EXPECT_EQ(chooseCoding("gzip;q=0, *"), Coding::Deflate);
    EXPECT_EQ(chooseCoding("*;q=0"), Coding::Identity);
    EXPECT_EQ(chooseCoding("identity"), Coding::Identity);
    EXPECT_EQ(chooseCoding(""), Coding::Identity);

    EXPECT_EQ(bearerToken("Bearer L9Gu_p-8"), QByteArray("L9Gu_p-8"));
    EXPECT_EQ(bearerToken("  bearer   tok  "), QByteArray("tok"));
    EXPECT_EQ(bearerToken("Basic dTpw"), QByteArray());
    EXPECT_EQ(bearerToken("Bearer"), QByteArray());
    EXPECT_EQ(bearerToken("Bearer a b"), QByteArray());
}

TEST(ApiRequestTest, AMasterIsAnsweredWholePartlyOrCompressedAsTheFieldsAsk)
{
    QTemporaryDir dir;
    test::writeFile(QDir(dir.path()).filePath(QStringLiteral("SHOMAS.csv")), QByteArray(100, 'x'));
    TerminalStage stage;
    stage.digested = true;
    stage.masters.append(
        StagedMaster{QStringLiteral("SHOMAS.csv"),
                     *platform::PinnedFile::open(QDir(dir.path()).filePath(QStringLiteral("SHOMAS.csv"))),
                     100,
                     QByteArray(32, '\x01')});
    const QByteArray etag = '"' + QByteArray(32, '\x01').toHex() + '"';
    const auto field = [](const MasterAnswer& answer, const QByteArray& name) {
        for (const auto& [key, value] : answer.fields) {
            if (key == name) {
                return value;
            }
        }
        return QByteArray();
    };

    MasterAnswer whole = answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, {}, {}, {}});
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.length, 100);
    EXPECT_EQ(field(whole, "ETag"), etag);

    MasterAnswer part = answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, "bytes=90-", etag, "gzip"});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.offset, 90);
    EXPECT_EQ(part.length, 10);
    EXPECT_EQ(part.coding, Coding::Identity); // a range is never compressed
    EXPECT_EQ(field(part, "Content-Range"), QByteArray("bytes 90-99/100"));

    // A resume against a copy that has changed since gets the whole new copy.
    MasterAnswer changed = answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, "bytes=90-", "\"old\"", {}});
    EXPECT_EQ(changed.status, 200);
    EXPECT_EQ(changed.length, 100);

    EXPECT_EQ(answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, "bytes=100-", {}, {}}).status, 416);
    MasterAnswer gzip = answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, {}, {}, "gzip, deflate"});
    EXPECT_EQ(gzip.coding, Coding::Gzip);
    EXPECT_EQ(field(gzip, "Content-Encoding"), QByteArray("gzip"));
    EXPECT_EQ(field(gzip, "ETag"), etag.chopped(1) + "-gzip\"");
    EXPECT_EQ(answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), true, {}, {}, "gzip"}).coding, Coding::Identity);

    EXPECT_EQ(answerMaster(&stage, {QStringLiteral("JISYA.csv"), false, {}, {}, {}}).status, 404);
    EXPECT_EQ(answerMaster(nullptr, {QStringLiteral("SHOMAS.csv"), false, {}, {}, {}}).status, 404);
    stage.status = platform::Status::error(QStringLiteral("/p/SHOMAS.csv: cannot read: Input/output error"));
    MasterAnswer unreadable = answerMaster(&stage, {QStringLiteral("SHOMAS.csv"), false, {}, {}, {}});
    EXPECT_EQ(unreadable.status, 500);
    EXPECT_EQ(unreadable.refusal, QStringLiteral("cannot read a staged master: Input/output error"));
}

// Beast's parser fed as a socket feeds it: the header in pieces, the body never whole, the next request kept.
TEST(ApiRequestTest, TheReaderTakesARequestInPiecesAndKeepsWhatFollowsIt)
{
    HttpRequestReader reader(16384);
    const QByteArray request = "PUT /v1/terminals/3/files/S_HACH.dat HTTP/1.1\r\nHost: pc\r\nContent-Length: 10\r\n"
                               "Authorization: Bearer k\r\n\r\n0123456789GET /v1/terminals/3/masters HTTP/1.1\r\n\r\n";
    const qsizetype headerEnd = request.indexOf("\r\n\r\n") + 4;
    for (qsizetype i = 0; i < headerEnd; ++i) {
        reader.append(request.mid(i, 1));
        EXPECT_TRUE(reader.parse(0).isEmpty());
    }
    ASSERT_EQ(reader.state(), HttpRequestReader::State::Body);
    EXPECT_EQ(reader.method(), QByteArray("PUT"));
    EXPECT_EQ(reader.field("authorization"), QByteArray("Bearer k"));
    EXPECT_EQ(reader.contentLength(), std::optional<quint64>(10));
    reader.limitBody(10);
    reader.append(request.mid(headerEnd));
    QByteArray body;
    for (QByteArray piece = reader.parse(4); !piece.isEmpty(); piece = reader.parse(4)) {
        EXPECT_LE(piece.size(), 4);
        body += piece;
    }
    EXPECT_EQ(body, QByteArray("0123456789"));
    EXPECT_EQ(reader.state(), HttpRequestReader::State::Done);
    reader.reset();
    reader.parse(0);
    EXPECT_EQ(reader.state(), HttpRequestReader::State::Done);
    EXPECT_EQ(reader.method(), QByteArray("GET"));

    HttpRequestReader flooded(16384);
    flooded.append("GET / HTTP/1.1\r\nX: " + QByteArray(17000, 'a') + "\r\n\r\n");
    flooded.parse(0);
    EXPECT_EQ(flooded.state(), HttpRequestReader::State::Failed);
    EXPECT_TRUE(flooded.headerTooLarge());
}

} // namespace
} // namespace kavelo::wire
