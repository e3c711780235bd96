#include "distribution/UpdateRecord.h"

#include "platform/Text.h"

namespace kavelo::distribution {

QStringView fieldView(QStringView line, const masters::Field& field, QString& scratch)
{
    if (field.start < 1 || field.length <= 0 || field.start > line.size()) {
        return QStringView(u"");
    }
    const QStringView slice = line.mid(field.start - 1, field.length);
    switch (field.transform) {
    case masters::Transform::AsSliced:
        return slice;
    case masters::Transform::Trimmed:
        return platform::TrimView(slice);
    case masters::Transform::TrimmedReplaceCommas: {
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

} // namespace kavelo::distribution
