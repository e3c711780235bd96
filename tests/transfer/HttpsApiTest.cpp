// The terminals' HTTPS API against the real server, driven by clients nobody here wrote: curl and Python's
// ssl/http.client with the certificate pinned by its fingerprint.
#include "client/TerminalClient.h"
#include "platform/Crypto.h"
#include "transfer/TerminalKeys.h"
#include "transfer/TerminalServer.h"
#include "transfer/UploadFiling.h"

#include "support/InjectedFileOps.h"
#include "support/PinnedPython.h"
#include "support/TerminalRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace kavelo::transfer {
namespace {

QByteArray masterContent(char seed, int lines)
{
    QByteArray content;
    for (int i = 0; i < lines; ++i) {
        content += QByteArray::number(i).rightJustified(13, '0') + ',' + seed + ",PRODUCT NAME " +
                   QByteArray::number(i % 97) + ",0000198,0000298\r\n";
    }
    return content;
}

class HttpsApiTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        TerminalKeys keys;
        key3 = *keys.enroll(3, QDateTime::currentDateTime());
        key4 = *keys.enroll(4, QDateTime::currentDateTime());
        ASSERT_OK(keys.write(home.home()));
    }

    void start(ServerConfig config = {})
    {
        config.programFolder = home.home();
        config.listenPort = 0;
        config.https = true;
        config.httpsPort = 0;
        config.tls = tlsFiles(home.home(), QString(), QString());
        config.protectedNames = TerminalServer::defaultProtectedNames() << QStringLiteral("KAVELO.ini");
        server = std::make_unique<TerminalServer>(config, nullptr, nullptr, files);
        server->setSavedFileHandling(&filing);
        server->setListening(true);
        ASSERT_TRUE(server->https() && server->https()->serving()) << server->https()->problem().toStdString();
        port = server->https()->port();
        fingerprint = server->https()->fingerprint();
    }

    // curl's exit code; `output` gets what it wrote.
    int curl(const QStringList& args, QString* output = nullptr)
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("curl"));
        EXPECT_FALSE(program.isEmpty()) << "curl is needed (scripts/install-deps installs it)";
        QProcess process;
        const int code = test::runProgram(process,
                                          program,
                                          QStringList{QStringLiteral("-sS"),
                                                      QStringLiteral("--cacert"),
                                                      home.path(QStringLiteral("tls/kavelo.crt"))} +
                                              args);
        if (output) {
            *output = QString::fromUtf8(process.readAllStandardOutput());
        }
        return code;
    }
    QString url(const QString& path) const { return QStringLiteral("https://localhost:%1%2").arg(port).arg(path); }
    QString bearer(const QString& key) const { return QStringLiteral("Authorization: Bearer ") + key; }
    QStringList programFiles() const { return QDir(home.home()).entryList(QDir::Files | QDir::Hidden); }

    test::ProgramFolder home;
    test::InjectedFileOps files;
    UploadFiling filing{exchange::FolderTree(home.dataRoot(), home.home())};
    std::unique_ptr<TerminalServer> server;
    QString key3;
    QString key4;
    quint16 port = 0;
    QString fingerprint;
    QTemporaryDir out;
};

TEST_F(HttpsApiTest, ADayOfOneTerminalWithCurl)
{
    start();
    const QByteArray products = masterContent('3', 3000);
    test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.csv"), products);
    test::writeFile(home.rcv(3) + QStringLiteral("JISYA.csv"), "0001,KAVELO\r\n");
    const QString order = QDir(out.path()).filePath(QStringLiteral("S_HACH.dat"));
    test::writeFile(order, "0001,4901,10\r\n");
    const QString control = QDir(out.path()).filePath(QStringLiteral("CTRL.csv"));
    test::writeFile(control, "CTRL\r\n");

    QString answer;
    ASSERT_EQ(curl({QStringLiteral("-H"),
                    bearer(key3),
                    QStringLiteral("-T"),
                    order,
                    url(QStringLiteral("/v1/terminals/3/files/S_HACH.dat"))},
                   &answer),
              0);
    EXPECT_EQ(answer, QStringLiteral("{\"name\":\"S_HACH.dat\",\"size\":14,\"terminal\":3}"));
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_HACH.dat")), QByteArray("0001,4901,10\r\n"));
    EXPECT_EQ(QDir(home.backup(3)).entryList(QDir::Files).size(), 1);

    ASSERT_EQ(curl({QStringLiteral("-H"),
                    bearer(key3),
                    QStringLiteral("-T"),
                    control,
                    url(QStringLiteral("/v1/terminals/3/files/CTRL.csv"))},
                   &answer),
              0);
    const QJsonArray masters =
        QJsonDocument::fromJson(answer.toUtf8()).object().value(QStringLiteral("masters")).toArray();
    ASSERT_EQ(masters.size(), 2) << answer.toStdString();
    EXPECT_EQ(masters.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("SHOMAS.csv"));
    EXPECT_EQ(masters.at(0).toObject().value(QStringLiteral("size")).toInteger(), products.size());
    EXPECT_EQ(masters.at(0).toObject().value(QStringLiteral("sha256")).toString(),
              platform::hexText(platform::sha256(products)));

    // The whole master compressed on the way, a part of it resumed, and the list again.
    const QString fetched = QDir(out.path()).filePath(QStringLiteral("SHOMAS.csv"));
    const QString headers = QDir(out.path()).filePath(QStringLiteral("headers"));
    ASSERT_EQ(curl({QStringLiteral("--compressed"),
                    QStringLiteral("-D"),
                    headers,
                    QStringLiteral("-H"),
                    bearer(key3),
                    QStringLiteral("-o"),
                    fetched,
                    url(QStringLiteral("/v1/terminals/3/masters/SHOMAS.csv"))}),
              0);
    EXPECT_TRUE(test::readFile(fetched) == products);
    EXPECT_TRUE(test::readFile(headers).toLower().contains("content-encoding: gzip"));
    ASSERT_EQ(curl({QStringLiteral("-r"),
                    QStringLiteral("1000-1999"),
                    QStringLiteral("-D"),
                    headers,
                    QStringLiteral("-H"),
                    bearer(key3),
                    QStringLiteral("-o"),
                    fetched,
                    url(QStringLiteral("/v1/terminals/3/masters/SHOMAS.csv"))}),
              0);
    EXPECT_TRUE(test::readFile(fetched) == products.mid(1000, 1000));
    EXPECT_TRUE(test::readFile(headers).startsWith("HTTP/1.1 206"));
    ASSERT_EQ(curl({QStringLiteral("-H"), bearer(key3), url(QStringLiteral("/v1/terminals/3/masters"))}, &answer), 0);
    EXPECT_TRUE(answer.contains(QStringLiteral("\"JISYA.csv\"")));
    EXPECT_EQ(programFiles().filter(QStringLiteral(".kavelo-")), QStringList());
}

// Whoever lacks the terminal's key, or asks for what the API does not take, is refused before a byte is stored.
TEST_F(HttpsApiTest, RefusalsSayWhyAndStoreNothing)
{
    ServerConfig config;
    config.maxFileSize = 1000;
    start(config);
    const QStringList lines = test::runPinnedPython(port,
                                                    fingerprint,
                                                    QStringLiteral(R"PY(
K3, K4 = ARGS
put = '/v1/terminals/3/files/S_HACH.dat'
s, h, b = req('PUT', put, body=b'x')
out('nokey', s, h.get('www-authenticate'), b.decode())
out('wrongkey', req('PUT', put, key='guessed', body=b'x')[0])
out('otherkey', req('PUT', put, key=K4, body=b'x')[0])
out('protected', req('PUT', '/v1/terminals/3/files/KAVELO.ini', key=K3, body=b'x')[0])
out('traversal', req('PUT', '/v1/terminals/3/files/..%2FKAVELO.ini', key=K3, body=b'x')[0])
out('terminal', req('PUT', '/v1/terminals/10000/files/x', key=K3, body=b'x')[0])
c = connect()
c.putrequest('PUT', put); c.putheader('Authorization', 'Bearer ' + K3); c.putheader('Content-Length', '5000')
c.endheaders()
r = c.getresponse(); out('toolarge', r.status, r.read().decode())
c = connect()
c.putrequest('PUT', put); c.putheader('Authorization', 'Bearer ' + K3); c.putheader('Transfer-Encoding', 'chunked')
c.endheaders(); c.send(b'5\r\nhello\r\n0\r\n\r\n')
out('chunked', c.getresponse().status)
import base64
digest = 'sha-256=:' + base64.b64encode(hashlib.sha256(b'other').digest()).decode() + ':'
out('digest', req('PUT', put, key=K3, body=b'0001,4901,10\r\n', headers={'Content-Digest': digest})[0])
good = 'sha-256=:' + base64.b64encode(hashlib.sha256(b'x').digest()).decode() + ':'
out('gooddigest', req('PUT', '/v1/terminals/3/files/LOG.txt', key=K3, body=b'x', headers={'Content-Digest': good})[0])
out('nothing', req('GET', '/v1/terminals/3/masters/SHOMAS.csv', key=K3)[0])
out('method', req('DELETE', '/v1/terminals/3/masters', key=K3)[0])
)PY"),
                                                    {key3, key4});
    EXPECT_EQ(
        lines,
        (QStringList{
            QStringLiteral(
                "nokey 401 Bearer realm=\"kavelo\" {\"error\":\"a key is needed (Authorization: Bearer <key>)\"}"),
            QStringLiteral("wrongkey 401"),
            QStringLiteral("otherkey 403"),
            QStringLiteral("protected 400"),
            QStringLiteral("traversal 400"),
            QStringLiteral("terminal 400"),
            QStringLiteral("toolarge 413 {\"error\":\"file too large (limit 1000 bytes)\"}"),
            QStringLiteral("chunked 411"),
            QStringLiteral("digest 400"),
            QStringLiteral("gooddigest 200"),
            QStringLiteral("nothing 404"),
            QStringLiteral("method 405"),
        }));
    EXPECT_TRUE(QDir(home.snd(3)).isEmpty());
    QStringList left = programFiles();
    left.removeAll(kKeyUseFileName); // written now and then by the server
    EXPECT_EQ(left, QStringList{QStringLiteral("KAVELO.ini")} << QStringLiteral("terminal-keys.txt"));
    EXPECT_EQ(test::readFile(home.path(QStringLiteral("KAVELO.ini"))).left(7), QByteArray("DBname="));
}

TEST_F(HttpsApiTest, WrongKeysOverEitherProtocolHoldTheAddressOffAndNoOther)
{
    start();
    quint16 v1Port = static_cast<quint16>(server->PortNo());
    for (int i = 0; i < KeyGuard::kMaxFailures / 2; ++i) {
        test::runTerminal([&] {
            client::TerminalClient client(QStringLiteral("127.0.0.1"), v1Port, 5000);
            EXPECT_FALSE(client.connectAs(3, "guessed").isOk());
        });
    }
    const QStringList lines = test::runPinnedPython(port,
                                                    fingerprint,
                                                    QStringLiteral(R"PY(
K3 = ARGS[0]
for i in range(5):
    out('guess', req('GET', '/v1/terminals/3/masters', key='guess%d' % i)[0])
s, h, b = req('GET', '/v1/terminals/3/masters', key=K3)
out('held', s, int(h.get('retry-after', '0')) > 500)
out('other address', req('GET', '/v1/terminals/3/masters', key=K3, src='127.0.0.2')[0])
)PY"),
                                                    {key3});
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("guess 401"),
                           QStringLiteral("guess 401"),
                           QStringLiteral("guess 401"),
                           QStringLiteral("guess 401"),
                           QStringLiteral("guess 401"),
                           QStringLiteral("held 429 True"),
                           QStringLiteral("other address 200")}));
    EXPECT_EQ(server->keyGuard().failures(), KeyGuard::kMaxFailures);
}

// Terminal 4's staging replaces the program folder's SHOMAS.csv; terminal 3, on a connection of its own later, gets
// exactly the copy staged for it.
TEST_F(HttpsApiTest, AMasterIsTheCopyStagedForItsTerminalOnAnyLaterConnection)
{
    start();
    test::writeFile(home.rcv(3) + QStringLiteral("SHOMAS.csv"), "three's products\r\n");
    test::writeFile(home.rcv(4) + QStringLiteral("SHOMAS.csv"), "four's products\r\n");
    const QStringList lines = test::runPinnedPython(port,
                                                    fingerprint,
                                                    QStringLiteral(R"PY(
K3, K4 = ARGS
out(req('PUT', '/v1/terminals/3/files/CTRL.csv', key=K3, body=b'C\r\n')[0])
out(req('PUT', '/v1/terminals/4/files/CTRL.csv', key=K4, body=b'C\r\n')[0])
s, h, b = req('GET', '/v1/terminals/3/masters/SHOMAS.csv', key=K3)
out(s, b.decode().strip(), h['etag'] == '"' + hashlib.sha256(b).hexdigest() + '"')
out(req('GET', '/v1/terminals/4/masters/SHOMAS.csv', key=K4)[2].decode().strip())
)PY"),
                                                    {key3, key4});
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("200"),
                           QStringLiteral("200"),
                           QStringLiteral("200 three's products True"),
                           QStringLiteral("four's products")}));
    EXPECT_EQ(test::readFile(home.path(QStringLiteral("SHOMAS.csv"))), QByteArray("four's products\r\n"));
}

TEST_F(HttpsApiTest, AFullDiskIs507AndAFailedFilingIs500WithTheReason)
{
    files.failOn(test::InjectedFileOps::Op::Write, QStringLiteral(".kavelo-upload-XXXXXX"));
    start();
    QDir(home.snd(3)).removeRecursively();
    QStringList lines = test::runPinnedPython(port,
                                              fingerprint,
                                              QStringLiteral(R"PY(
s, h, b = req('PUT', '/v1/terminals/3/files/S_HACH.dat', key=ARGS[0], body=b'0001,4901,10\r\n')
out(s, b.decode())
)PY"),
                                              {key3});
    EXPECT_EQ(lines, QStringList{QStringLiteral("507 {\"error\":\"cannot store the file: No space left on device\"}")});
    EXPECT_EQ(programFiles().filter(QStringLiteral("S_HACH")), QStringList());

    server.reset();
    files = test::InjectedFileOps();
    start();
    lines = test::runPinnedPython(port,
                                  fingerprint,
                                  QStringLiteral(R"PY(
s, h, b = req('PUT', '/v1/terminals/3/files/S_HACH.dat', key=ARGS[0], body=b'0001,4901,10\r\n')
out(s, b.decode().startswith('{"error":"S_HACH.dat saved but its handling failed: '))
)PY"),
                                  {key3});
    EXPECT_EQ(lines, QStringList{QStringLiteral("500 True")});
    EXPECT_TRUE(programFiles().contains(QStringLiteral("S_HACH.dat"))); // kept for the operator, as over v1
}

// An upload that would leave less than MinFreeBytes free is refused before its bytes, over either protocol, with
// the reason told to the terminal and to the operator; once there is room again it is stored.
TEST_F(HttpsApiTest, BelowMinFreeBytesUploadsAreRefusedBeforeTheirBytes)
{
    ServerConfig config;
    config.minFreeBytes = 1000000;
    files.setAvailableBytes(1000010); // room for 10 bytes
    start(config);
    QStringList told;
    QObject::connect(server.get(), &CommServer::UploadFailed, [&](const QString& name, const platform::Status& why) {
        told << name + QStringLiteral(": ") + why.detail();
    });
    const quint16 v1Port = static_cast<quint16>(server->PortNo());
    platform::Status v1;
    test::runTerminal([&] {
        client::TerminalClient client(QStringLiteral("127.0.0.1"), v1Port, 5000);
        ASSERT_OK(client.connectAs(3, key3.toLatin1()));
        v1 = client.put(QStringLiteral("S_HACH.dat"), QByteArray(20, 'x'));
    });
    EXPECT_EQ(v1.message(), QStringLiteral("PUT S_HACH.dat: ERR cannot store the file: the PC's disk is nearly full"));
    QStringList lines = test::runPinnedPython(port,
                                              fingerprint,
                                              QStringLiteral(R"PY(
s, h, b = req('PUT', '/v1/terminals/3/files/S_TANA.dat', key=ARGS[0], body=b'x' * 20)
out(s, b.decode())
out(req('PUT', '/v1/terminals/3/files/S_HACH.dat', key=ARGS[0], body=b'small')[0])
)PY"),
                                              {key3});
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("507 {\"error\":\"cannot store the file: the PC's disk is nearly full\"}"),
                           QStringLiteral("200")}));
    EXPECT_EQ(told,
              (QStringList{QStringLiteral("S_HACH.dat: cannot store the file: the PC's disk is nearly full"),
                           QStringLiteral("S_TANA.dat: cannot store the file: the PC's disk is nearly full")}));
    EXPECT_EQ(programFiles().filter(QStringLiteral("kavelo-upload")), QStringList());
    EXPECT_FALSE(QFile::exists(home.snd(3) + QStringLiteral("S_TANA.dat")));
    EXPECT_FALSE(server->diskShort()); // the last upload had room

    files.setAvailableBytes(10000000);
    lines = test::runPinnedPython(port,
                                  fingerprint,
                                  QStringLiteral(R"PY(
out(req('PUT', '/v1/terminals/3/files/S_TANA.dat', key=ARGS[0], body=b'x' * 20)[0])
)PY"),
                                  {key3});
    EXPECT_EQ(lines, QStringList{QStringLiteral("200")});
    EXPECT_EQ(test::readFile(home.snd(3) + QStringLiteral("S_TANA.dat")), QByteArray(20, 'x'));
}

// Each costs only its own connection, and a terminal is served all the while.
TEST_F(HttpsApiTest, HostileConnectionsCostOnlyThemselves)
{
    ServerConfig config;
    config.idleTimeoutMs = 400;
    config.handshakeTimeoutMs = 400;
    config.maxStartups = 4;
    start(config);
    const QStringList lines = test::runPinnedPython(port,
                                                    fingerprint,
                                                    QStringLiteral(R"PY(
K3 = ARGS[0]
def closed(s, send=b''):
    if send:
        s.sendall(send)
    s.settimeout(5)
    try:
        return s.recv(100) == b''
    except (ConnectionResetError, ssl.SSLError):
        return True
silent = [raw() for i in range(6)]  # beyond MaxStartups: the oldest go at once, the rest after the handshake time
out('served beside silent ones', req('GET', '/v1/terminals/3/masters', key=K3)[0])
out('silent closed', all(closed(s) for s in silent))
out('plain http closed', closed(raw(), b'GET /v1/terminals/3/masters HTTP/1.1\r\nHost: x\r\n\r\n'))
old = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT); old.check_hostname = False; old.verify_mode = ssl.CERT_NONE
old.minimum_version = ssl.TLSVersion.TLSv1; old.maximum_version = ssl.TLSVersion.TLSv1_1
old.set_ciphers('ALL:@SECLEVEL=0')
try:
    old.wrap_socket(raw()).close(); out('old tls accepted')
except (ssl.SSLError, ConnectionResetError, OSError):
    out('old tls refused')
c = connect()
c.putrequest('GET', '/v1/terminals/3/masters'); c.putheader('X-Filler', 'a' * 17000); c.endheaders()
out('huge header', c.getresponse().status)
c = connect()
c.sock.sendall(b'GET /v1/terminals/3/mas')  # a request that never ends
out('unfinished header closed', closed(c.sock))
c = connect()
c.putrequest('PUT', '/v1/terminals/3/files/S_HACH.dat'); c.putheader('Authorization', 'Bearer ' + K3)
c.putheader('Content-Length', '100'); c.endheaders(); c.send(b'0001,4901,10\r\n')  # then nothing more
out('half body closed', closed(c.sock))
out('served after all', req('GET', '/v1/terminals/3/masters', key=K3)[0])
)PY"),
                                                    {key3});
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("served beside silent ones 200"),
                           QStringLiteral("silent closed True"),
                           QStringLiteral("plain http closed True"),
                           QStringLiteral("old tls refused"),
                           QStringLiteral("huge header 431"),
                           QStringLiteral("unfinished header closed True"),
                           QStringLiteral("half body closed True"),
                           QStringLiteral("served after all 200")}));
    test::spin(50);
    EXPECT_TRUE(QDir(home.snd(3)).isEmpty());
    EXPECT_EQ(programFiles().filter(QStringLiteral(".kavelo-upload")), QStringList());
}

// The key file changes under the running server: the terminal's open connections end within two seconds, and
// the old key opens nothing any more.
TEST_F(HttpsApiTest, ARevokedKeysConnectionsEndAndTheKeyOpensNothing)
{
    start();
    QTimer revoker; // once the key has been used
    QObject::connect(&revoker, &QTimer::timeout, [this, &revoker] {
        if (server->keyRing().lastUses().contains(3)) {
            revoker.stop();
            TerminalKeys keys = *TerminalKeys::read(home.home());
            keys.revoke(3);
            ASSERT_OK(keys.write(home.home()));
        }
    });
    revoker.start(20);
    const QStringList lines = test::runPinnedPython(port,
                                                    fingerprint,
                                                    QStringLiteral(R"PY(
K3 = ARGS[0]
c = connect()
out('before', req('GET', '/v1/terminals/3/masters', key=K3, conn=c)[0])
c.sock.settimeout(5)
start = time.time()
try:
    ended = c.sock.recv(100) == b''
except (ConnectionResetError, ssl.SSLError):
    ended = True
out('ended', ended, time.time() - start < 3)
out('after', req('GET', '/v1/terminals/3/masters', key=K3)[0])
)PY"),
                                                    {key3});
    EXPECT_EQ(
        lines,
        (QStringList{QStringLiteral("before 200"), QStringLiteral("ended True True"), QStringLiteral("after 401")}));
}

// One place per terminal across both protocols: a keyless HELLO cannot take it from the HTTPS request in flight, a
// keyed one can (the request is told 503); with one place, another terminal waits until it is free.
TEST_F(HttpsApiTest, OneTerminalOnePlaceAcrossBothProtocols)
{
    ServerConfig config;
    config.maxSessions = 1;
    start(config);
    const quint16 v1Port = static_cast<quint16>(server->PortNo());
    QStringList lines;
    QString keyless;
    QString keyed;
    test::runTerminals(
        {[&] {
             QProcess python;
             python.start(QStandardPaths::findExecutable(QStringLiteral("python3")),
                          {QStringLiteral("-c"),
                           QString::fromLatin1(test::kPinnedPythonPreamble) + QStringLiteral(R"PY(
c = connect()
c.putrequest('PUT', '/v1/terminals/3/files/S_HACH.dat'); c.putheader('Authorization', 'Bearer ' + ARGS[0])
c.putheader('Content-Length', '28'); c.endheaders(); c.send(b'0001,4901,10\r\n')
out('half')
time.sleep(1.5)
try:
    c.send(b'0002,4902,20\r\n')
except OSError:
    pass
r = c.getresponse(); out(r.status, r.read().decode())
)PY"),
                           QString::number(port),
                           fingerprint,
                           key3});
             python.waitForFinished(30000);
             lines = QString::fromUtf8(python.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
         },
         [&] {
             QThread::msleep(700);
             client::TerminalClient intruder(QStringLiteral("127.0.0.1"), v1Port, 5000);
             keyless = intruder.connectAs(3).message();
             client::TerminalClient terminal(QStringLiteral("127.0.0.1"), v1Port, 5000);
             keyed = terminal.connectAs(3, key3.toLatin1()).isOk() ? QStringLiteral("OK") : QStringLiteral("refused");
             EXPECT_OK(terminal.bye());
         }},
        30000);
    EXPECT_EQ(keyless,
              QStringLiteral("HELLO refused: ERR terminal 3 is connected; only its key takes its session over"));
    EXPECT_EQ(keyed, QStringLiteral("OK"));
    EXPECT_EQ(lines,
              (QStringList{QStringLiteral("half"), QStringLiteral("503 {\"error\":\"terminal 3 connected again\"}")}));
    EXPECT_TRUE(QDir(home.snd(3)).isEmpty());

    // Terminal 4's request waits while terminal 3's session holds the only place, and is served once it is free.
    QString order;
    test::runTerminals({[&] {
                            client::TerminalClient terminal(QStringLiteral("127.0.0.1"), v1Port, 5000);
                            ASSERT_OK(terminal.connectAs(3, key3.toLatin1()));
                            QThread::msleep(800);
                            order += QStringLiteral("bye ");
                            EXPECT_OK(terminal.bye());
                        },
                        [&] {
                            QThread::msleep(300);
                            QProcess python;
                            python.start(
                                QStandardPaths::findExecutable(QStringLiteral("python3")),
                                {QStringLiteral("-c"),
                                 QString::fromLatin1(test::kPinnedPythonPreamble) +
                                     QStringLiteral("out(req('GET', '/v1/terminals/4/masters', key=ARGS[0])[0])\n"),
                                 QString::number(port),
                                 fingerprint,
                                 key4});
                            python.waitForFinished(30000);
                            order += QString::fromUtf8(python.readAllStandardOutput()).trimmed();
                        }},
                       30000);
    EXPECT_EQ(order, QStringLiteral("bye 200"));
}

} // namespace
} // namespace kavelo::transfer
