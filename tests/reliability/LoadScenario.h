#ifndef KAVELO_TESTS_RELIABILITY_LOADSCENARIO_H
#define KAVELO_TESTS_RELIABILITY_LOADSCENARIO_H

// The load scenario, shared by the bounded test (kavelo_reliability_tests) and the full benchmark (bench_load):
// terminals 1 to 11 all at once against one server on loopback, each doing rounds of S_HACH.dat + S_TANA.dat +
// CTRL.csv + GET, while master polls apply product updates on the service's job runner. Afterwards every upload must be
// accounted for and every terminal must have received only its own masters. Free of gtest: problems are returned.

#include "client/TerminalClient.h"
#include "comm/OperatorUi.h"
#include "distribution/MasterPoll.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"
#include "shell/Service.h"
#include "shell/Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kavelo::reliability::load {

struct Options
{
    int terminals = 11;
    int rounds = 3;
    int productRows = 300;    // lines of each product update file the polls apply
    int pollIntervalMs = 250; // a poll starts this long after the previous one ended
    int timeoutMs = 600000;
};

struct Report
{
    int sessions = 0;
    int uploads = 0;
    int gets = 0;
    int mastersReceived = 0;
    int polls = 0;
    int pollUpdates = 0;
    int pollFailures = 0;
    qint64 elapsedMs = 0;
    qint64 rssAfterFirstQuarterKb = 0;
    qint64 rssEndKb = 0;
    qint64 peakRssKb = 0;
    QStringList problems; // empty when everything held
};

class NullUi : public comm::OperatorUi
{
  public:
    void showMessage(const QString&) override {}
    void setStatusLine(const QString&) override {}
    void setListenCaption(const QString&) override {}
    void setLamp(comm::Lamp) override {}
    void setCountdownCaption(const QString&) override {}
    void endProgram() override {}
    std::optional<int> chooseUsbPort(const QStringList&) override { return std::nullopt; }
};

inline qint64 procStatusKb(const char* key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(static_cast<qsizetype>(qstrlen(key))).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

inline QString tid(int terminal)
{
    return platform::ZeroPad(4, terminal);
}

// A product record whose code starts with the terminal's number, so that an export shows whose it is.
inline QString productLine(int terminal, int row, int version)
{
    const QString code =
        QStringLiteral("%1%2").arg(terminal, 2, 10, QLatin1Char('0')).arg(row, 11, 10, QLatin1Char('0'));
    QString line = QStringLiteral("1") + code + QStringLiteral("000000000001 ") +
                   QStringLiteral("商品%1-%2").arg(row).arg(version).leftJustified(20, u' ', true) +
                   QStringLiteral("ｼｮｳﾋﾝ").leftJustified(14, u' ');
    return line.leftJustified(181, u'0');
}

struct Upload
{
    int terminal = 0;
    QString name;
    QByteArray content;
    qint64 startSecs = 0; // wall clock, seconds since the epoch, when the PUT began
    qint64 endSecs = 0;   // ... and when its reply came
    bool ok = false;
};

inline Report run(const Options& options)
{
    Report report;
    QTemporaryDir dir;
    const QString home = QDir(dir.path()).absolutePath();
    const QString dataRoot = home + QStringLiteral("/HT/");
    const QString dbPath = dataRoot + QStringLiteral("0000/MasterConv.db");
    auto problem = [&report](const QString& text) { report.problems << text; };

    // The program folder as `kavelo init` leaves it, plus masters already waiting for each terminal.
    for (int t = 1; t <= options.terminals; ++t) {
        QDir().mkpath(dataRoot + tid(t) + QStringLiteral("/snd"));
        QDir().mkpath(dataRoot + tid(t) + QStringLiteral("/rcv"));
        QDir().mkpath(dataRoot + QStringLiteral("backup/") + tid(t) + QStringLiteral("/snd"));
        for (const char* master : {"BUNMAS", "TENMAS"}) {
            QFile file(dataRoot + tid(t) + QStringLiteral("/rcv/%1.csv").arg(QLatin1String(master)));
            if (file.open(QIODevice::WriteOnly)) {
                file.write(QStringLiteral("%1 of terminal %2\r\n").arg(QLatin1String(master), tid(t)).toLatin1());
            }
        }
    }
    QDir().mkpath(dataRoot + QStringLiteral("0000/rcv"));
    {
        auto db = platform::Database::openSqlite(dbPath, platform::Database::OpenMode::CreateIfMissing);
        if (!db.isOk() || !masters::ensureSchema(**db).isOk()) {
            problem(QStringLiteral("cannot create the database"));
            return report;
        }
    }
    {
        QFile ini(home + QStringLiteral("/KAVELO.ini"));
        if (!ini.open(QIODevice::WriteOnly)) {
            problem(QStringLiteral("cannot write KAVELO.ini"));
            return report;
        }
        ini.write(
            QStringLiteral("DBname=%1\r\nDATA=%2\r\nListenPort=0\r\nStatusPort=0\r\n").arg(dbPath, dataRoot).toUtf8());
    }
    platform::Result<shell::Settings> settings = shell::ReadSettings(home);
    if (!settings.isOk()) {
        problem(settings.status().message());
        return report;
    }

    NullUi ui;
    shell::Service service(*settings, ui);
    if (!service.start() || !service.server().Listening()) {
        problem(QStringLiteral("the server did not start listening"));
        return report;
    }
    service.pollTimer().stop(); // the scenario runs its own polls, back to back
    const quint16 port = static_cast<quint16>(service.server().PortNo());

    // Polls on the service's job runner, one after the other: each places a fresh product update for the next
    // terminal first.
    std::atomic<bool> terminalsDone(false);
    int nextPollTerminal = 1;
    QObject::connect(
        &service.jobs(), &jobs::JobRunner::pollFinished, [&report](const distribution::PollReport& polled) {
            ++report.polls;
            for (const distribution::PollEntry& entry : polled.entries) {
                entry.ok ? ++report.pollUpdates : ++report.pollFailures;
            }
        });
    QTimer pollTimer;
    pollTimer.setInterval(options.pollIntervalMs);
    QObject::connect(&pollTimer, &QTimer::timeout, [&] {
        if (service.jobs().busy() || terminalsDone) {
            return;
        }
        const int t = nextPollTerminal;
        nextPollTerminal = nextPollTerminal % options.terminals + 1;
        QStringList lines;
        for (int row = 0; row < options.productRows; ++row) {
            lines << productLine(t, row, report.polls);
        }
        QFile dat(dataRoot + tid(t) + QStringLiteral("/rcv/SHOMAS.dat"));
        auto bytes = platform::encodeShiftJis(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
        if (bytes.isOk() && dat.open(QIODevice::WriteOnly)) {
            dat.write(*bytes);
            dat.close();
        }
        service.jobs().poll();
    });
    pollTimer.start();

    // The terminals, all at once.
    std::mutex lock;
    std::vector<Upload> uploads;
    QTemporaryDir outRoot;
    QElapsedTimer clock;
    clock.start();
    std::atomic<int> left(options.terminals);
    QEventLoop loop;
    std::vector<std::thread> threads;
    for (int t = 1; t <= options.terminals; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < options.rounds; ++round) {
                client::TerminalClient client(QStringLiteral("127.0.0.1"), port, 60000);
                platform::Status status = client.connectAs(t);
                std::vector<Upload> mine;
                for (const QString& name :
                     {QStringLiteral("S_HACH.dat"), QStringLiteral("S_TANA.dat"), QStringLiteral("CTRL.csv")}) {
                    if (!status.isOk()) {
                        break;
                    }
                    Upload upload;
                    upload.terminal = t;
                    upload.name = name;
                    const QByteArray line =
                        QStringLiteral("%1 terminal %2 round %3\r\n").arg(name, tid(t)).arg(round).toLatin1();
                    upload.content = name == QLatin1String("CTRL.csv") ? line : line.repeated(40);
                    upload.startSecs = QDateTime::currentSecsSinceEpoch();
                    status = client.put(name, upload.content);
                    upload.endSecs = QDateTime::currentSecsSinceEpoch();
                    upload.ok = status.isOk();
                    mine.push_back(upload);
                }
                QStringList received;
                const QString out = outRoot.filePath(QStringLiteral("%1-%2").arg(tid(t)).arg(round));
                QDir().mkpath(out);
                if (status.isOk()) {
                    platform::Result<QStringList> got = client.get(out);
                    status = got.isOk() ? client.bye() : got.status();
                    if (got.isOk()) {
                        received = *got;
                    }
                }
                std::lock_guard<std::mutex> guard(lock);
                ++report.sessions;
                uploads.insert(uploads.end(), mine.begin(), mine.end());
                report.uploads += static_cast<int>(mine.size());
                if (!status.isOk()) {
                    problem(QStringLiteral("terminal %1 round %2: %3").arg(tid(t)).arg(round).arg(status.message()));
                    continue;
                }
                ++report.gets;
                report.mastersReceived += static_cast<int>(received.size());
                for (const QString& name : received) {
                    QFile file(QDir(out).filePath(name));
                    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
                    if (name == QLatin1String("SHOMAS.csv")) {
                        const QByteArray prefix = QStringLiteral("%1").arg(t, 2, 10, QLatin1Char('0')).toLatin1();
                        for (const QByteArray& row : content.split('\n')) {
                            if (!row.isEmpty() && !row.startsWith(prefix)) {
                                problem(QStringLiteral("terminal %1 received a product row of another terminal")
                                            .arg(tid(t)));
                                break;
                            }
                        }
                    } else if (!content.endsWith(QStringLiteral("of terminal %1\r\n").arg(tid(t)).toLatin1())) {
                        problem(QStringLiteral("terminal %1 received %2 of another terminal: %3")
                                    .arg(tid(t), name, QString::fromLatin1(content.left(60))));
                    }
                }
                if (!received.contains(QStringLiteral("BUNMAS.csv")) ||
                    !received.contains(QStringLiteral("TENMAS.csv"))) {
                    problem(QStringLiteral("terminal %1 round %2 did not receive its masters: %3")
                                .arg(tid(t))
                                .arg(round)
                                .arg(received.join(QLatin1Char(' '))));
                }
            }
            if (--left == 0) {
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
            }
        });
    }
    QTimer rssProbe;
    QObject::connect(&rssProbe, &QTimer::timeout, [&] {
        if (report.rssAfterFirstQuarterKb == 0 && report.sessions * 4 >= options.terminals * options.rounds) {
            report.rssAfterFirstQuarterKb = procStatusKb("VmRSS:");
        }
    });
    rssProbe.start(100);
    QTimer::singleShot(options.timeoutMs, &loop, &QEventLoop::quit);
    if (left > 0) {
        loop.exec();
    }
    terminalsDone = true;
    if (left > 0) {
        problem(QStringLiteral("the terminals did not finish within %1 ms").arg(options.timeoutMs));
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    pollTimer.stop();
    rssProbe.stop();
    report.elapsedMs = clock.elapsed();
    // The poll still running ends as it would (stopping the service now would give its update up).
    QDeadlineTimer lastPoll(options.timeoutMs);
    while (service.jobs().busy() && !lastPoll.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QCoreApplication::processEvents();
    service.stop();
    report.rssEndKb = procStatusKb("VmRSS:");
    report.peakRssKb = procStatusKb("VmHWM:");

    // Every upload accounted for: the send folder holds each terminal's last upload of each kind, and the backup
    // tree holds one byte-identical file per distinct second (two uploads in the same second share a name, the later
    // one replacing the earlier).
    for (int t = 1; t <= options.terminals; ++t) {
        const QString backup = dataRoot + QStringLiteral("backup/") + tid(t) + QStringLiteral("/snd/");
        for (const QString& name : {QStringLiteral("S_HACH.dat"), QStringLiteral("S_TANA.dat")}) {
            std::vector<const Upload*> mine;
            for (const Upload& u : uploads) {
                if (u.terminal == t && u.name == name && u.ok) {
                    mine.push_back(&u);
                }
            }
            if (mine.empty()) {
                problem(QStringLiteral("terminal %1: no %2 went through").arg(tid(t), name));
                continue;
            }
            QFile snd(dataRoot + tid(t) + QStringLiteral("/snd/") + name);
            if (!snd.open(QIODevice::ReadOnly) || snd.readAll() != mine.back()->content) {
                problem(QStringLiteral("terminal %1: the send folder does not hold the last %2").arg(tid(t), name));
            }
            QHash<qint64, QByteArray> bySecond;
            for (const QString& file : QDir(backup).entryList({QStringLiteral("*_") + name}, QDir::Files)) {
                const QDateTime stamp = QDateTime::fromString(file.left(14), QStringLiteral("yyyyMMddHHmmss"));
                QFile f(backup + file);
                const QByteArray content = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                bySecond.insert(stamp.toSecsSinceEpoch(), content);
                bool known = false;
                for (const Upload* u : mine) {
                    known = known || u->content == content;
                }
                if (!known) {
                    problem(QStringLiteral("terminal %1: backup %2 is not one of the uploads").arg(tid(t), file));
                }
            }
            for (size_t i = 0; i < mine.size(); ++i) {
                bool accounted = false;
                for (qint64 s = mine[i]->startSecs; s <= mine[i]->endSecs && !accounted; ++s) {
                    if (!bySecond.contains(s)) {
                        continue;
                    }
                    // Its own content, or a later upload's that replaced it within the same second.
                    for (size_t j = i; j < mine.size() && !accounted; ++j) {
                        accounted = bySecond.value(s) == mine[j]->content;
                    }
                }
                if (!accounted) {
                    problem(QStringLiteral("terminal %1: %2 of %3 is missing from the backup tree")
                                .arg(tid(t), name, QString::fromLatin1(mine[i]->content.left(40))));
                }
            }
        }
    }
    for (const QString& name : QDir(home).entryList(QDir::Files | QDir::Hidden)) {
        if (name.startsWith(QLatin1String(".kavelo-upload-")) || name == QLatin1String("S_HACH.dat") ||
            name == QLatin1String("S_TANA.dat")) {
            problem(QStringLiteral("left in the program folder: %1").arg(name));
        }
    }
    return report;
}

} // namespace kavelo::reliability::load

#endif
