#ifndef KAVELO_TESTS_SUPPORT_TESTSUPPORT_H
#define KAVELO_TESTS_SUPPORT_TESTSUPPORT_H

#include "platform/Status.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#define ASSERT_OK(expr)                                                                                                \
    do {                                                                                                               \
        const auto& kaveloStatus_ = (expr);                                                                            \
        ASSERT_TRUE(::kavelo::test::statusOf(kaveloStatus_).isOk())                                                    \
            << ::kavelo::test::statusOf(kaveloStatus_).message().toStdString();                                        \
    } while (0)

#define EXPECT_OK(expr)                                                                                                \
    do {                                                                                                               \
        const auto& kaveloStatus_ = (expr);                                                                            \
        EXPECT_TRUE(::kavelo::test::statusOf(kaveloStatus_).isOk())                                                    \
            << ::kavelo::test::statusOf(kaveloStatus_).message().toStdString();                                        \
    } while (0)

// Lets gtest print QString values readably.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace kavelo::test {

inline const platform::Status& statusOf(const platform::Status& s)
{
    return s;
}
template <typename T> const platform::Status& statusOf(const platform::Result<T>& r)
{
    static const platform::Status kOk;
    return r.isOk() ? kOk : r.status();
}

// Windows-31J bytes of a text (the test fails on characters outside the code page).
QByteArray sjis(const QString& text);
// Lines joined with CR LF after each, encoded in Windows-31J.
QByteArray sjisLines(const QStringList& lines);

void writeFile(const QString& path, const QByteArray& content);
QByteArray readFile(const QString& path);
// A file's lines decoded from Windows-31J, CR LF removed; fails the test on a bare LF or invalid bytes.
QStringList readSjisLines(const QString& path);

// Fixed-width record: each piece padded with blanks (or cut) to its width, in order.
struct Piece
{
    QString text;
    int width;
};
QString record(std::initializer_list<Piece> pieces);

QString samplesDir();  // shared/samples beside the checkout (or a folder above it)
QString testDataDir(); // tests/data
QString binaryDir();   // the build folder (for the kavelo executable)

// The kavelo executable of this build, run to its end (killed after timeoutMs).
struct KaveloRun
{
    int exitCode = -1;
    bool crashed = false; // ended by a signal, or did not end in time
    QString out;
    QString err;
    qint64 elapsedMs = 0;
};
KaveloRun runKavelo(const QStringList& args, int timeoutMs = 300000);

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();

// A fresh program folder as `kavelo init` leaves it: KAVELO.ini (DBname, DATA, StatusPort=0, HttpsPort=0 and the
// given extra lines, which win), the folders of terminals 0001-0011, the backup tree, the import folder and the
// database tables.
class ProgramFolder
{
  public:
    explicit ProgramFolder(const QStringList& extraSettings = {});
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    const QString& home() const { return m_home; }
    QString path(const QString& relative) const;
    QString dataRoot() const;        // home/HT/
    QString dbPath() const;          // home/HT/0000/MasterConv.db
    QString importDir() const;       // home/HT/0000/rcv/
    QString rcv(int terminal) const; // home/HT/000N/rcv/
    QString snd(int terminal) const;
    QString backup(int terminal) const;

  private:
    QTemporaryDir m_dir;
    QString m_home;
};

} // namespace kavelo::test

#endif
