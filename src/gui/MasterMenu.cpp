#include "gui/MasterMenu.h"

#include "gui/OperatorTexts.h"
#include "gui/Twips.h"
#include "masters/Masters.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "platform/Translations.h"

#include <QPushButton>

#include <algorithm>

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

namespace {

// The caption of a master's button ("商品マスタ"), or its name.
QString captionOfMaster(const QString& master)
{
    for (const ButtonLayout& layout : kImportButtons) {
        if (layout.master().name == master) {
            return QString::fromUtf8(layout.caption);
        }
    }
    return master;
}

// The failure of an import as the message box shows it, in Japanese from its fields: the file and line, what
// failed there, and why; the system's reason as it comes.
QString importFailureText(const platform::Status& failure)
{
    return platform::japaneseDetail(failure.failure());
}

} // namespace

void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const jobs::ImportOutcome& outcome)
{
    if (outcome.ok()) {
        showMessage(parent, QMessageBox::Information, kDoneTitle, kDoneText);
        return;
    }
    showMessage(parent,
                QMessageBox::NoIcon,
                kProgramTitle,
                QStringLiteral("%1の更新に失敗しました\n%2")
                    .arg(captionOfMaster(outcome.master), importFailureText(outcome.status)));
}

QString masterMenuCaption(const jobs::RunnerState& state)
{
    if (state.importMaster.isEmpty()) {
        return kCaption;
    }
    const QString progress =
        state.importWaiting ? QStringLiteral("待機中") : QStringLiteral("%1%").arg(std::max(state.importPercent, 0));
    return QStringLiteral("%1 - %2 %3").arg(kCaption, captionOfMaster(state.importMaster), progress);
}

template <typename Body> void MasterMenu::handle(const char* handler, Body&& body)
{
    platform::guarded(lcShell, handler, std::forward<Body>(body), [this](const char* what, const QString& reason) {
        m_showMessage(this, QMessageBox::NoIcon, kProgramTitle, handlerFailureText(what, reason));
    });
}

MasterMenu::MasterMenu(jobs::JobRunner& jobs, MessageBoxFunction showMessage, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_jobs(jobs)
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
        connect(button, &QPushButton::clicked, this, [this, &master] {
            handle("import button", [this, &master] { importClicked(master); });
        });
        setTabOrder(previous, button);
        previous = button;
        m_buttons.push_back({button, &master});
    }

    connect(&m_jobs, &jobs::JobRunner::stateChanged, this, [this] {
        handle("import state", [this] { reflectImports(); });
    });
    connect(&m_jobs, &jobs::JobRunner::importFinished, this, &MasterMenu::onFinished);
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
    // logged) and does nothing. The runner's state updates the window.
    m_jobs.import(master);
}

// A window opened while an import waits or runs (after the first was closed) shows it too.
void MasterMenu::reflectImports()
{
    const bool busy = !m_jobs.state().importMaster.isEmpty();
    for (const ImportButton& entry : m_buttons) {
        entry.button->setEnabled(!busy);
    }
    setWindowTitle(masterMenuCaption(m_jobs.state()));
}

void MasterMenu::onFinished(const jobs::ImportOutcome& outcome)
{
    handle("import finished", [&] {
        reflectImports();
        announceOutcome(this, m_showMessage, outcome);
    });
}

} // namespace kavelo::gui
