#ifndef KAVELO_BENCH_PRODUCTRECORDS_H
#define KAVELO_BENCH_PRODUCTRECORDS_H

// Realistic product master update records for the benchmarks: 13-digit codes, names in kanji and half-width kana,
// random prices and dates.

#include "platform/TextCodec.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <random>

namespace kavelo::bench {

inline const QStringList kKanjiNames = {
    QStringLiteral("国産牛乳"),
    QStringLiteral("特選コーヒー"),
    QStringLiteral("北海道バター"),
    QStringLiteral("焼きそば麺３玉"),
    QStringLiteral("天然水２Ｌ"),
    QStringLiteral("食パン６枚切"),
    QStringLiteral("絹ごし豆腐"),
    QStringLiteral("緑茶ティーバッグ"),
    QStringLiteral("ポテトチップス塩"),
    QStringLiteral("洗濯用洗剤詰替"),
};
inline const QStringList kKanaNames = {
    QStringLiteral("ｷﾞｭｳﾆｭｳ"),
    QStringLiteral("ｺｰﾋｰ"),
    QStringLiteral("ﾊﾞﾀｰ"),
    QStringLiteral("ﾔｷｿﾊﾞ"),
    QStringLiteral("ﾃﾝﾈﾝｽｲ"),
    QStringLiteral("ｼｮｸﾊﾟﾝ"),
    QStringLiteral("ﾄｳﾌ"),
    QStringLiteral("ﾘｮｸﾁｬ"),
    QStringLiteral("ﾎﾟﾃﾄﾁｯﾌﾟｽ"),
    QStringLiteral("ｾﾝｻﾞｲ"),
};

inline QString padded(const QString& text, int width)
{
    return text.left(width).leftJustified(width, QLatin1Char(' '));
}

inline QString randomDigits(std::mt19937_64& rng, int width)
{
    QString out(width, u'0');
    for (int i = 0; i < width; ++i) {
        out[i] = QChar(u'0' + static_cast<char16_t>(rng() % 10));
    }
    return out;
}

// A 13-digit product code, distinct for every number below 10^11.
inline QString productCode(qint64 n)
{
    const qint64 scrambled = (n * 7919 + 12345) % 100000000000LL;
    return QStringLiteral("49") + QString::number(scrambled).rightJustified(11, u'0');
}

// One 181-character update record of the product master.
inline QString productLine(qint64 n, std::mt19937_64& rng)
{
    QString line;
    line.reserve(181);
    line += u'1';
    line += productCode(n);
    line += padded(QStringLiteral("J") + QString::number(n), 12);
    line += u' ';
    line += padded(kKanjiNames[static_cast<int>(rng() % kKanjiNames.size())], 20);
    line += padded(kKanaNames[static_cast<int>(rng() % kKanaNames.size())], 14);
    line += randomDigits(rng, 4);          // classification
    line += QStringLiteral("012");         // order unit
    line += randomDigits(rng, 6);          // supplier
    line += u'1';                          // input class
    line += randomDigits(rng, 9);          // cost
    line += randomDigits(rng, 7);          // price
    line += QStringLiteral("121");         // fraction, rounding, tax class 1
    line += QStringLiteral("20250401010"); // start date 1, rate 1
    line += QStringLiteral("22025100108"); // tax class 2, start date 2
    line += u'0';                          // rate 2 (third character)
    line += QStringLiteral("2025120120251231") + randomDigits(rng, 9) + randomDigits(rng, 7);
    line += QStringLiteral("20260101202601312026020120260228");
    return line;
}

// An update file of `lines` products: new ones numbered from `firstNew`, and with `existing` above 0, half of the
// lines instead replacing one of the products numbered below `existing`.
inline bool
writeProductUpdateFile(const QString& path, qint64 lines, qint64 firstNew, unsigned seed, qint64 existing = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::mt19937_64 rng(seed);
    QByteArray buffer;
    qint64 nextNew = firstNew;
    for (qint64 i = 0; i < lines; ++i) {
        const qint64 n = (existing > 0 && rng() % 2 == 0) ? static_cast<qint64>(rng() % existing) : nextNew++;
        auto bytes = platform::encodeShiftJis(productLine(n, rng));
        if (!bytes.isOk()) {
            std::fprintf(stderr, "%s\n", qPrintable(bytes.status().message()));
            return false;
        }
        buffer += *bytes;
        buffer += "\r\n";
        if (buffer.size() > (1 << 20)) {
            file.write(buffer);
            buffer.clear();
        }
    }
    file.write(buffer);
    return file.error() == QFileDevice::NoError;
}

} // namespace kavelo::bench

#endif
