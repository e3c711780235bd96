#ifndef KAVELO_TESTS_SUPPORT_PTYPAIR_H
#define KAVELO_TESTS_SUPPORT_PTYPAIR_H

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

namespace kavelo::test {

// Two linked pseudo-terminals made by socat, as a serial line with a terminal at one end: the server opens
// `serverEnd()`, the terminal `terminalEnd()` (links in a folder of their own). stop() takes the pair away, as a
// USB unit pulled out does; start() brings it back under the same names.
class PtyPair
{
  public:
    PtyPair() { start(); }
    ~PtyPair() { stop(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    static QString socat() { return QStandardPaths::findExecutable(QStringLiteral("socat")); }

    bool start()
    {
        if (socat().isEmpty()) {
            return false;
        }
        m_socat.start(socat(),
                      {QStringLiteral("pty,raw,echo=0,link=") + serverEnd(),
                       QStringLiteral("pty,raw,echo=0,link=") + terminalEnd()});
        if (!m_socat.waitForStarted(5000)) {
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            if (QFileInfo::exists(serverEnd()) && QFileInfo::exists(terminalEnd())) {
                return true;
            }
            QThread::msleep(20);
        }
        return false;
    }

    void stop()
    {
        if (m_socat.state() != QProcess::NotRunning) {
            m_socat.terminate();
            if (!m_socat.waitForFinished(5000)) {
                m_socat.kill();
                m_socat.waitForFinished(5000);
            }
        }
        QFile::remove(serverEnd());
        QFile::remove(terminalEnd());
    }

    bool running() const { return m_socat.state() == QProcess::Running; }
    QString serverEnd() const { return m_dir.filePath(QStringLiteral("server")); }
    QString terminalEnd() const { return m_dir.filePath(QStringLiteral("terminal")); }

  private:
    QTemporaryDir m_dir;
    QProcess m_socat;
};

} // namespace kavelo::test

#endif
