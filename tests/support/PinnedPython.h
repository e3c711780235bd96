#ifndef KAVELO_TESTS_SUPPORT_PINNEDPYTHON_H
#define KAVELO_TESTS_SUPPORT_PINNEDPYTHON_H

#include "support/TerminalRunner.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

namespace kavelo::test {

// Python's own TLS and HTTP (ssl, http.client) as a terminal's app would use them, the certificate pinned by its
// SHA-256 fingerprint instead of a CA. The script's body may use:
//   connect(src='127.0.0.1')          a connection, the certificate checked against FP (else it exits non-zero)
//   req(method, path, key=None, body=None, headers=None, src='127.0.0.1', conn=None) -> (status, headers, body)
//   raw(src='127.0.0.1')              a plain TCP socket to the port
//   out(*parts)                       a line of the result
//   PORT, FP, ARGS                    the port, the fingerprint, the further arguments
inline const char* const kPinnedPythonPreamble = R"PY(
import hashlib, http.client, socket, ssl, sys, time
PORT = int(sys.argv[1]); FP = sys.argv[2]; ARGS = sys.argv[3:]
CTX = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
CTX.check_hostname = False
CTX.verify_mode = ssl.CERT_NONE  # pinned by its fingerprint instead
def connect(src='127.0.0.1'):
    c = http.client.HTTPSConnection('127.0.0.1', PORT, context=CTX, timeout=20, source_address=(src, 0))
    c.connect()
    got = hashlib.sha256(c.sock.getpeercert(binary_form=True)).hexdigest()
    if got != FP:
        raise SystemExit('certificate %s is not the pinned %s' % (got, FP))
    return c
def req(method, path, key=None, body=None, headers=None, src='127.0.0.1', conn=None):
    c = conn or connect(src)
    h = dict(headers or {})
    if key:
        h['Authorization'] = 'Bearer ' + key
    c.request(method, path, body=body, headers=h)
    r = c.getresponse()
    data = r.read()
    if conn is None:
        c.close()
    return r.status, {k.lower(): v for k, v in r.getheaders()}, data
def raw(src='127.0.0.1'):
    s = socket.create_connection(('127.0.0.1', PORT), timeout=20, source_address=(src, 0))
    return s
def out(*parts):
    print(*parts, flush=True)
)PY";

// Runs the script with python3; the event loop of this thread serves meanwhile. Its output lines; the test fails
// when python3 is missing or the script fails.
inline QStringList runPinnedPython(
    quint16 port, const QString& fingerprint, const QString& body, const QStringList& args = {}, int timeoutMs = 60000)
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    EXPECT_FALSE(python.isEmpty()) << "python3 is needed (scripts/install-deps installs it)";
    QProcess process;
    const int code = runProgram(process,
                                python,
                                QStringList{QStringLiteral("-c"),
                                            QString::fromLatin1(kPinnedPythonPreamble) + body,
                                            QString::number(port),
                                            fingerprint} +
                                    args,
                                timeoutMs);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(code, 0) << err.toStdString();
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace kavelo::test

#endif
