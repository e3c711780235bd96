#include "gui/MasterMenu.h"

#include "gui/OperatorTexts.h"
#include "gui/Twips.h"
#include "masters/Masters.h"
#include "platform/Guarded.h"
#include "platform/Log.h"

#include <QPushButton>

namespace kavelo::gui {

namespace {

const QString kCaption = QStringLiteral("マスター更新");
const QString kDoneText = QStringLiteral("更新終了");
const QString kDoneTitle = QStringLiteral("終了しました");

struct ButtonLayout
{
    const char* objectName;
    const char* caption;
    const masters::MasterDefinition& (*master)();
    int left, top, width, height;
};

// In tab order, which is also the order of creation.
const ButtonLayout kImportButtons[] = {
    {"BtnTENMAS", "店舗マスタ", &masters::storeMaster, 120, 120, 1935, 615},
    {"BtnBUNMAS", "分類マスタ", &masters::classificationMaster, 120, 840, 1935, 615},
    {"BtnSHOMAS", "商品マスタ", &masters::productMaster, 120, 1560, 1935, 615},
    {"BtnTOKMAS", "得意先マスタ", &masters::customerMaster, 120, 2280, 1935, 615},
    {"BtnSIRMAS", "仕入先マスタ", &masters::supplierMaster, 120, 3000, 1935, 495},
    {"BtnJISYA", "自社コード", &masters::ownCompanyCodeMaster, 120, 3600, 1935, 540},
};

} // namespace

void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const import::ImportOutcome& outcome)
{
    if (outcome.ok) {
        showMessage(parent, QMessageBox::Information, kDoneTitle, kDoneText);
        return;
    }
    QString caption = outcome.master;
    for (const ButtonLayout& layout : kImportButtons) {
        if (layout.master().name == outcome.master) {
            caption = QString::fromUtf8(layout.caption);
        }
    }
    showMessage(parent, QMessageBox::NoIcon, kProgramTitle,
                QStringLiteral("%1の更新に失敗しました\n%2").arg(caption, outcome.error));
}

template <typename Body> void MasterMenu::handle(const char* handler, Body&& body)
{
    platform::guarded(lcShell, handler, std::forward<Body>(body), [this](const char* what, const QString& reason) {
        m_showMessage(this, QMessageBox::NoIcon, kProgramTitle, handlerFailureText(what, reason));
    });
}

MasterMenu::MasterMenu(shell::HostImports& imports, MessageBoxFunction showMessage, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_imports(imports)
    , m_showMessage(std::move(showMessage))
{
    setObjectName(QStringLiteral("MasterMenu"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kCaption);
    resize(fromTwips(0, 0, 4695, 4335).size());

    m_btnEnd = new QPushButton(QStringLiteral("END"), this);
    m_btnEnd->setObjectName(QStringLiteral("BtnEND"));
    m_btnEnd->setGeometry(fromTwips(3000, 3480, 1455, 735));
    connect(m_btnEnd, &QPushButton::clicked, this, [this] { handle("BtnEND_Click", [this] { BtnEND_Click(); }); });

    QWidget* previous = m_btnEnd;
    for (const ButtonLayout& layout : kImportButtons) {
        auto* button = new QPushButton(QString::fromUtf8(layout.caption), this);
        button->setObjectName(QString::fromLatin1(layout.objectName));
        button->setGeometry(fromTwips(layout.left, layout.top, layout.width, layout.height));
        const masters::MasterDefinition& master = layout.master();
        connect(button, &QPushButton::clicked, this,
                [this, &master] { handle("import button", [this, &master] { importClicked(master); }); });
        setTabOrder(previous, button);
        previous = button;
        m_buttons.push_back({button, &master});
    }

    import::ImportRunner& runner = m_imports.runner();
    connect(&m_imports, &shell::HostImports::queued, this, &MasterMenu::onWaiting);
    connect(&runner, &import::ImportRunner::started, this, &MasterMenu::onStarted);
    connect(&runner, &import::ImportRunner::progress, this, &MasterMenu::onProgress);
    connect(&runner, &import::ImportRunner::finished, this, &MasterMenu::onFinished);
    reflectImports();
}

MasterMenu::~MasterMenu() = default;

void MasterMenu::BtnEND_Click()
{
    close();
}

void MasterMenu::importClicked(const masters::MasterDefinition& master)
{
    // The buttons are disabled while an import waits or runs; a click that still reaches one is refused (and
    // logged) and does nothing. The imports' signals update the window.
    m_imports.request(master);
}

// A window opened while an import waits or runs (after the first was closed) shows it too.
void MasterMenu::reflectImports()
{
    const bool busy = m_imports.busy();
    for (const ImportButton& entry : m_buttons) {
        entry.button->setEnabled(!busy);
    }
    if (busy) {
        setCaptionFor(m_imports.currentMaster(), QString());
    } else {
        setWindowTitle(kCaption);
    }
}

QString MasterMenu::captionOfMaster(const QString& master) const
{
    for (const ImportButton& entry : m_buttons) {
        if (entry.master->name == master) {
            return entry.button->text();
        }
    }
    return master;
}

void MasterMenu::setCaptionFor(const QString& master, const QString& state)
{
    QString caption = kCaption + QStringLiteral(" - ") + captionOfMaster(master);
    if (!state.isEmpty()) {
        caption += QLatin1Char(' ') + state;
    }
    setWindowTitle(caption);
}

void MasterMenu::onWaiting(const QString& master)
{
    handle("import waiting", [&] {
        reflectImports();
        setCaptionFor(master, QStringLiteral("待機中"));
    });
}

void MasterMenu::onStarted(const QString& master)
{
    handle("import started", [&] {
        reflectImports();
        setCaptionFor(master, QStringLiteral("0%"));
    });
}

void MasterMenu::onProgress(const QString& master, qint64 bytesDone, qint64 bytesTotal)
{
    handle("import progress", [&] {
        const qint64 percent = bytesTotal > 0 ? bytesDone * 100 / bytesTotal : 100;
        setCaptionFor(master, QStringLiteral("%1%").arg(percent));
    });
}

void MasterMenu::onFinished(const import::ImportOutcome& outcome)
{
    handle("import finished", [&] {
        reflectImports();
        announceOutcome(this, m_showMessage, outcome);
    });
}

} // namespace kavelo::gui
