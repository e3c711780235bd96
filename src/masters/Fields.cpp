#include "masters/Fields.h"

#include "platform/Text.h"

namespace kavelo::masters {

QString cutField(QStringView line, const Field& field)
{
    QString value = platform::Slice(line, field.start, field.length);
    switch (field.transform) {
    case Transform::AsSliced:
        return value;
    case Transform::Trimmed:
        return platform::Trim(value);
    case Transform::TrimmedReplaceCommas:
        return platform::ReplaceCommas(platform::Trim(value));
    }
    return value;
}

} // namespace kavelo::masters
