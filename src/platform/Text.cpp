#include "platform/Text.h"

namespace kavelo::platform {

QStringView TrimView(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ') {
        ++begin;
    }
    while (end > begin && text[end - 1] == u' ') {
        --end;
    }
    return text.mid(begin, end - begin);
}

QString Trim(QStringView text)
{
    QString trimmed = TrimView(text).toString();
    if (trimmed.isNull()) {
        trimmed = QStringLiteral("");
    }
    return trimmed;
}

QStringView TrimTrailing(QStringView text)
{
    qsizetype end = text.size();
    while (end > 0 && text[end - 1] == u' ') {
        --end;
    }
    return text.left(end);
}

QString ReplaceCommas(QString text)
{
    for (QChar& c : text) {
        if (c == u',') {
            c = u'.';
        } else if (c == u'\uFF0C') {
            c = u'\uFF0E';
        }
    }
    return text;
}

QString ZeroPad(int width, const QString& value)
{
    if (value.size() >= width) {
        return value;
    }
    return QString(width - value.size(), u'0') + value;
}

QString ZeroPad(int width, qint64 value)
{
    return ZeroPad(width, QString::number(value));
}

} // namespace kavelo::platform
