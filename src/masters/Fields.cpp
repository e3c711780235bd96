#include "masters/Fields.h"

#include "platform/Text.h"

namespace kavelo::masters {

QStringView cutFieldView(QStringView line, const Field& field, QString& scratch)
{
    if (field.start < 1 || field.length <= 0 || field.start > line.size()) {
        return QStringView(u"");
    }
    const QStringView slice = line.mid(field.start - 1, field.length);
    switch (field.transform) {
    case Transform::AsSliced:
        return slice;
    case Transform::Trimmed:
        return platform::TrimView(slice);
    case Transform::TrimmedReplaceCommas: {
        const QStringView trimmed = platform::TrimView(slice);
        if (!trimmed.contains(u',') && !trimmed.contains(u'\uFF0C')) {
            return trimmed;
        }
        scratch = platform::ReplaceCommas(trimmed.toString());
        return scratch;
    }
    }
    return slice;
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

HostOperation hostOperation(QStringView record)
{
    if (record.isEmpty()) {
        return HostOperation::Skip;
    }
    switch (record.front().unicode()) {
    case u'1':
    case u'2':
        return HostOperation::Replace;
    case u'3':
        return HostOperation::Delete;
    default:
        return HostOperation::Skip;
    }
}

} // namespace kavelo::masters
