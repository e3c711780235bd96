#include "import/MasterMenu.h"

#include "masters/Masters.h"
#include "platform/Log.h"

#include <QPushButton>
#include <QRect>

#include <exception>

namespace kavelo::import {

namespace {

const QString kCaption = QStringLiteral("マスター更新");
const QString kDoneText = QStringLiteral("更新終了");
const QString kDoneTitle = QStringLiteral("終了しました");

constexpr int kTwipsPerPixel = 15;

QRect fromTwips(int left, int top, int width, int height)
{
    return QRect(left / kTwipsPerPixel, top / kTwipsPerPixel, width / kTwipsPerPixel, height / kTwipsPerPixel);
}

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

void showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const ImportOutcome& outcome)
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

void guarded(const char* handler, const std::function<void()>& body,
             const std::function<void(const QString& reason)>& report)
{
    QString reason;
    try {
        body();
        return;
    } catch (const std::exception& e) {
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        reason = QStringLiteral("unknown error");
    }
    qCCritical(lcShell).noquote() << handler << "failed:" << reason;
    if (report) {
        try {
            report(QStringLiteral("%1: %2").arg(QLatin1String(handler), reason));
        } catch (...) {
            qCCritical(lcShell).noquote() << handler << "could not report its failure";
        }
    }
}

MasterMenu::MasterMenu(ImportRunner& runner, const ImportContext& context, MessageBoxFunction showMessage,
                       QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_runner(runner)
    , m_context(context)
    , m_showMessage(std::move(showMessage))
{
    setObjectName(QStringLiteral("MasterMenu"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kCaption);
    resize(fromTwips(0, 0, 4695, 4335).size());

    m_btnEnd = new QPushButton(QStringLiteral("END"), this);
    m_btnEnd->setObjectName(QStringLiteral("BtnEND"));
    m_btnEnd->setGeometry(fromTwips(3000, 3480, 1455, 735));
    connect(m_btnEnd, &QPushButton::clicked, this,
            [this] { guarded("BtnEND_Click", [this] { BtnEND_Click(); }, [this](const QString& r) { report(r); }); });

    QWidget* previous = m_btnEnd;
    for (const ButtonLayout& layout : kImportButtons) {
        auto* button = new QPushButton(QString::fromUtf8(layout.caption), this);
        button->setObjectName(QString::fromLatin1(layout.objectName));
        button->setGeometry(fromTwips(layout.left, layout.top, layout.width, layout.height));
        const masters::MasterDefinition& master = layout.master();
        connect(button, &QPushButton::clicked, this, [this, &master] {
            guarded(
                "import button", [this, &master] { importClicked(master); },
                [this](const QString& r) { report(r); });
        });
        setTabOrder(previous, button);
        previous = button;
        m_buttons.push_back({button, &master});
    }

    connect(&m_runner, &ImportRunner::waitingForPoll, this, &MasterMenu::onWaiting);
    connect(&m_runner, &ImportRunner::started, this, &MasterMenu::onStarted);
    connect(&m_runner, &ImportRunner::progress, this, &MasterMenu::onProgress);
    connect(&m_runner, &ImportRunner::finished, this, &MasterMenu::onFinished);
    reflectRunner();
}

MasterMenu::~MasterMenu() = default;

void MasterMenu::BtnEND_Click()
{
    close();
}

void MasterMenu::importClicked(const masters::MasterDefinition& master)
{
    // The buttons are disabled while an import runs; a click that still reaches one is refused and does nothing.
    // The runner's signals update the window.
    if (!m_runner.start(master, m_context)) {
        qCInfo(lcImport).noquote() << master.name << "import refused: another import is under way";
    }
}

// A window opened while an import runs (after the first was closed) shows it too.
void MasterMenu::reflectRunner()
{
    const bool running = m_runner.isRunning();
    for (const ImportButton& entry : m_buttons) {
        entry.button->setEnabled(!running);
    }
    if (running) {
        setCaptionFor(m_runner.currentMaster(), QString());
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
    guarded(
        "import waiting",
        [&] {
            reflectRunner();
            setCaptionFor(master, QStringLiteral("待機中"));
        },
        [this](const QString& r) { report(r); });
}

void MasterMenu::onStarted(const QString& master)
{
    guarded(
        "import started",
        [&] {
            reflectRunner();
            setCaptionFor(master, QStringLiteral("0%"));
        },
        [this](const QString& r) { report(r); });
}

void MasterMenu::onProgress(const QString& master, qint64 bytesDone, qint64 bytesTotal)
{
    guarded(
        "import progress",
        [&] {
            const qint64 percent = bytesTotal > 0 ? bytesDone * 100 / bytesTotal : 100;
            setCaptionFor(master, QStringLiteral("%1%").arg(percent));
        },
        [this](const QString& r) { report(r); });
}

void MasterMenu::onFinished(const ImportOutcome& outcome)
{
    guarded(
        "import finished",
        [&] {
            reflectRunner();
            announceOutcome(this, m_showMessage, outcome);
        },
        [this](const QString& r) { report(r); });
}

void MasterMenu::report(const QString& reason)
{
    m_showMessage(this, QMessageBox::NoIcon, kProgramTitle, reason);
}

} // namespace kavelo::import
