#ifndef KAVELO_BENCH_HEADLESSSERVER_H
#define KAVELO_BENCH_HEADLESSSERVER_H

// `kavelo --headless` in a process of its own, as a store's PC runs it, for the benchmarks that measure it from
// outside: started on a program folder, ready once its port takes a connection, stopped with SIGTERM.

#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

namespace kavelo::bench {

// A "VmRSS:"-style field of /proc/PID/status, in bytes (0 when it cannot be read).
inline qint64 procStatusBytes(qint64 pid, const char* field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong() * 1024;
        }
    }
    return 0;
}

class HeadlessServer
{
  public:
    // Waits up to about 30 s for `port` on loopback to take a connection.
    HeadlessServer(const QString& kavelo, const QString& home, quint16 port)
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice()); // the log is in the program folder
        m_process.start(kavelo, {QStringLiteral("--headless"), QStringLiteral("--home"), home});
        m_process.waitForStarted();
        for (int i = 0; i < 200 && !m_ready; ++i) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), port);
            m_ready = probe.waitForConnected(100);
            probe.abort();
            if (!m_ready) {
                QThread::msleep(50);
            }
        }
        QThread::msleep(200); // the probe's session is gone
    }
    ~HeadlessServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    HeadlessServer(const HeadlessServer&) = delete;
    HeadlessServer& operator=(const HeadlessServer&) = delete;

    bool ready() const { return m_ready; }
    qint64 rss() const { return procStatusBytes(m_process.processId(), "VmRSS:"); }
    qint64 peak() const { return procStatusBytes(m_process.processId(), "VmHWM:"); }

  private:
    QProcess m_process;
    bool m_ready = false;
};

} // namespace kavelo::bench

#endif
