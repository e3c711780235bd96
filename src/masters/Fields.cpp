#include "masters/Fields.h"

#include "platform/Text.h"

namespace kavelo::masters {

QStringView cutFieldView(QStringView line, const Field& field, QString& scratch)
{
    // The same run as platform::Slice: 1-based start, at most `length` characters, empty past the end.
    QStringView value;
    if (field.start >= 1 && field.length > 0 && field.start <= line.size()) {
        value = line.mid(field.start - 1, field.length);
    }
    switch (field.transform) {
    case Transform::AsSliced:
        return value;
    case Transform::Trimmed:
        return platform::TrimView(value);
    case Transform::TrimmedReplaceCommas:
        scratch = platform::ReplaceCommas(platform::TrimView(value).toString());
        return scratch;
    }
    return value;
}

QString cutField(QStringView line, const Field& field)
{
    QString scratch;
    QString value = cutFieldView(line, field, scratch).toString();
    if (value.isNull()) {
        value = QStringLiteral("");
    }
    return value;
}

} // namespace kavelo::masters
