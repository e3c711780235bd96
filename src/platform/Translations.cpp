#include "platform/Translations.h"

#include "platform/Log.h"

#include <QTranslator>

namespace kavelo::platform {

extern const unsigned char kJapaneseCatalogue[];
extern const int kJapaneseCatalogueSize;

QTranslator& japaneseCatalogue()
{
    static QTranslator* const catalogue = [] {
        auto* translator = new QTranslator; // lives as long as the process: an application object may hold it
        if (!translator->load(kJapaneseCatalogue, kJapaneseCatalogueSize)) {
            qCWarning(lcPlatform) << "the Japanese catalogue does not load; the operator's texts stay English";
        }
        return translator;
    }();
    return *catalogue;
}

QString japanese(const char* context, const char* sourceText)
{
    const QString text = japaneseCatalogue().translate(context, sourceText);
    return text.isEmpty() ? QString::fromUtf8(sourceText) : text;
}

namespace {

// A fixed text of a failure in Japanese when the catalogue has it; anything else (the system's words, a path) as
// it is.
QString failureText(const QString& text)
{
    if (text.isEmpty()) {
        return text;
    }
    const QByteArray utf8 = text.toUtf8();
    return japanese("Failure", utf8.constData());
}

} // namespace

QString japaneseReason(const Failure& failure)
{
    const QString reason = failureText(failure.reason);
    return failure.action.isEmpty() ? reason : failureText(failure.action) + QStringLiteral(": ") + reason;
}

QString japaneseDetail(const Failure& failure, bool withFile)
{
    QString text = failureText(failure.context);
    const QString file = withFile ? failure.file : QString();
    if (failure.line > 0) {
        text += file.isEmpty() ? QStringLiteral("%1行目: ").arg(failure.line)
                               : QStringLiteral("%1 %2行目: ").arg(file, QString::number(failure.line));
    } else if (!file.isEmpty()) {
        text += file + QStringLiteral(": ");
    }
    return text + japaneseReason(failure);
}

} // namespace kavelo::platform
