#ifndef KAVELO_BENCH_HOSTRECORDS_H
#define KAVELO_BENCH_HOSTRECORDS_H

// Product master host files for the import benchmarks: 181-character records, mostly replacements, every 20th a
// delete, in key order or in no key order.

#include "platform/Status.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace kavelo::bench {

using platform::Status;

// A 13-digit product code, n in its last 11 digits.
inline QString hostProductCode(int n)
{
    return QStringLiteral("49%1").arg(n, 11, 10, QLatin1Char('0'));
}

// The product master's columns from the classification code to the last one (positions 62 to 181), varied by n.
inline QByteArray recordTail(int n)
{
    QByteArray tail;
    tail += QByteArray::number(n % 100).rightJustified(4, '0');     // 分類コード
    tail += "012";                                                  // 発注単位
    tail += QByteArray::number(n % 5000).rightJustified(6, '0');    // 仕入先コード
    tail += "1";                                                    // 入力区分
    tail += QByteArray::number(n % 99991).rightJustified(9, '0');   // 原価
    tail += QByteArray::number(n % 9999991).rightJustified(7, '0'); // 売価
    tail += "12";                                                   // 端数処理, 丸め単位
    tail += "1"
            "20191001"
            "010"; // 税区分1, 適用開始日1, 税率1
    tail += "2"
            "20240401"
            "008"; // 税区分2, 適用開始日2, 税率2
    tail += "20250101"
            "20250110"
            "000000090"
            "0000120"; // sale 1
    tail += "20250201"
            "20250210"; // sale 2
    tail += "000000000"
            "0000000"; // the 9- and 7-character fields
    return tail;
}

// One host record of 181 characters.
inline QByteArray hostLine(char flag, int n, const QByteArray& kanjiName)
{
    QByteArray line;
    line += flag;
    line += hostProductCode(n).toLatin1().leftJustified(13, ' ');
    line += QByteArray::number(n).leftJustified(13, ' ');
    line += kanjiName;
    line += QByteArray("\xC3\xBD\xC4\xBC\xAE\xB3\xCB\xDD").leftJustified(14, ' '); // half-width kana name
    line += recordTail(n);
    line += "\r\n";
    return line;
}

inline Status writeHostFile(const QString& path, int lines, const QByteArray& kanjiName, bool shuffled)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return Status::error(QStringLiteral("%1: cannot create: %2").arg(path, file.errorString()));
    }
    QByteArray chunk;
    for (int i = 0; i < lines; ++i) {
        // Mostly replacements, some of them of flag 2, every 20th a delete; the first 100,000 keys are in the table.
        const char flag = i % 20 == 19 ? '3' : (i % 7 == 0 ? '2' : '1');
        // 7919 is a prime that divides neither size, so i -> i * 7919 mod lines visits every key once.
        const int key = shuffled ? static_cast<int>(static_cast<qint64>(i) * 7919 % lines) : i;
        chunk += hostLine(flag, key, kanjiName);
        if (chunk.size() > (1 << 20)) {
            if (file.write(chunk) != chunk.size()) {
                return Status::error(QStringLiteral("%1: write failed").arg(path));
            }
            chunk.clear();
        }
    }
    if (file.write(chunk) != chunk.size()) {
        return Status::error(QStringLiteral("%1: write failed").arg(path));
    }
    return Status::ok();
}

} // namespace kavelo::bench

#endif
