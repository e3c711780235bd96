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

} // namespace kavelo::platform
