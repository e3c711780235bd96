#include "gui/MianMenu.h"

#include "exchange/FolderTree.h"
#include "gui/OperatorTexts.h"
#include "gui/Twips.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "platform/Translations.h"
#include "shell/Service.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kavelo::gui {

namespace {

const QString kCaption = QStringLiteral("ハンディ通信");
constexpr int kFontPointSize = 9;
const QColor kListeningGreen(0, 255, 0);

// The named font when the system has it, else a Japanese font of the system (proportional or fixed pitch like the
// one asked for), so that every caption renders.
QFont japaneseFont(const QString& preferred, bool fixedPitch)
{
    const QStringList all = QFontDatabase::families();
    QString family;
    if (all.contains(preferred)) {
        family = preferred;
    } else {
        const QStringList candidates =
            fixedPitch ? QStringList{QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")}
                       : QStringList{QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans Mono CJK JP")};
        for (const QString& candidate : candidates) {
            if (all.contains(candidate)) {
                family = candidate;
                break;
            }
        }
        if (family.isEmpty()) {
            const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
            if (!japanese.isEmpty()) {
                family = japanese.first();
            }
        }
    }
    QFont font = family.isEmpty() ? QFont() : QFont(family);
    font.setPointSize(kFontPointSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    return button;
}

} // namespace

template <typename Body> void MianMenu::handle(const char* handler, Body&& body)
{
    if (m_ended) {
        return;
    }
    platform::guarded(lcShell, handler, std::forward<Body>(body), [this](const char* what, const QString& reason) {
        setStatusLine(handlerFailureText(what, reason));
    });
}

MianMenu::MianMenu(MianMenuHooks hooks, QWidget* parent)
    : QWidget(parent)
    , m_hooks(std::move(hooks))
{
    if (!m_hooks.showMessage) {
        m_hooks.showMessage = showMessageBox;
    }
    setObjectName(QStringLiteral("MianMenu"));
    setWindowTitle(kCaption);
    setFont(japaneseFont(QStringLiteral("MS UI Gothic"), false));
    resize(fromTwips(0, 0, 4110, 2460).size());

    // In the order of creation; Timer1 and CommServer1 belong to the Service.
    m_btnMaster = makeButton(this, "BtnMaster", QStringLiteral("マスター更新"), fromTwips(1920, 1800, 1215, 495));
    m_btnMaster->setVisible(false);
    m_command2 = makeButton(this, "Command2", QStringLiteral("USB通信ユニット検索"), fromTwips(960, 600, 1935, 375));
    m_command1 = makeButton(this, "Command1", comm::kCaptionListen, fromTwips(960, 120, 1935, 375));
    m_lCount = makeLabel(this, "LCount", QStringLiteral("1"), fromTwips(120, 2040, 1215, 255));
    m_lCount->setVisible(false);
    m_lStatus = makeLabel(this, "LStatus", QString(), fromTwips(120, 1440, 3855, 255));
    m_lStatus->setStyleSheet(QStringLiteral("color: #b00020;")); // the poll's failures, to be seen
    m_label1 = makeLabel(this, "Label1", QString(), fromTwips(120, 1080, 3855, 255));
    m_label1->setFont(japaneseFont(QStringLiteral("MS UI Gothic"), false));
    m_shape1 = new LampShape(this);
    m_shape1->setObjectName(QStringLiteral("Shape1"));
    m_shape1->setGeometry(fromTwips(120, 120, 615, 615));
    m_label2 = makeLabel(this, "Label2", QStringLiteral("通信状況"), fromTwips(120, 720, 855, 255));
    m_label2->setFont(japaneseFont(QStringLiteral("ＭＳ ゴシック"), true));

    for (QPushButton* button : {m_command1, m_command2}) {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, windowBackground());
        button->setPalette(palette);
    }
    setTabOrder(m_command1, m_command2);

    connect(
        m_btnMaster, &QPushButton::clicked, this, [this] { handle("BtnMaster_Click", [this] { BtnMaster_Click(); }); });
    connect(
        m_command1, &QPushButton::clicked, this, [this] { handle("Command1_Click", [this] { Command1_Click(); }); });
    connect(
        m_command2, &QPushButton::clicked, this, [this] { handle("Command2_Click", [this] { Command2_Click(); }); });
}

MianMenu::~MianMenu()
{
    delete m_masterMenu.data();
}

void MianMenu::attach(shell::Service& service)
{
    m_service = &service;
    service.pollTimer().setObjectName(QStringLiteral("Timer1"));
    service.server().setObjectName(QStringLiteral("CommServer1"));
    // The tick is a handler of this window like the clicks: it runs guarded, and not at all once the program ended.
    QObject::disconnect(&service.pollTimer(), &QTimer::timeout, &service, &shell::Service::pollTick);
    connect(&service.pollTimer(), &QTimer::timeout, this, [this] {
        handle("Timer1_Timer", [this] { m_service->pollTick(); });
    });
    connect(&service.jobs(), &jobs::JobRunner::pollFinished, this, [this](const distribution::PollReport& report) {
        handle("poll finished", [this, &report] { onPollFinished(report); });
    });
    connect(&service.jobs(), &jobs::JobRunner::importFinished, this, [this](const jobs::ImportOutcome& outcome) {
        handle("import finished", [this, &outcome] { onImportFinished(outcome); });
    });
}

QColor MianMenu::windowBackground() const
{
    return palette().color(QPalette::Window);
}

void MianMenu::showMessage(const QString& text)
{
    m_hooks.showMessage(this, QMessageBox::NoIcon, kProgramTitle, text);
}

void MianMenu::setStatusLine(const QString& caption)
{
    m_label1->setText(caption);
}

void MianMenu::onPollFinished(const distribution::PollReport& report)
{
    // A file that failed is tried again at every poll: the last poll's failures are those still standing. One line
    // in the window; the whole list (several files may fail) in its tool tip.
    const QString text = pollFailureLines(report);
    const QString first = text.section(QLatin1Char('\n'), 0, 0);
    const int more = text.isEmpty() ? 0 : static_cast<int>(text.count(QLatin1Char('\n')));
    m_lStatus->setText(more > 0 ? QStringLiteral("%1 （他%2件）").arg(first).arg(more) : first);
    m_lStatus->setToolTip(text);
}

QString pollFailureLines(const distribution::PollReport& report)
{
    // Where in the file (which the line names), what failed there and why, in Japanese; the system's reason as it
    // comes.
    auto why = [](const platform::Failure& f) { return platform::japaneseDetail(f, false); };
    QStringList lines;
    for (const distribution::PollEntry& entry : report.entries) {
        if (!entry.ok) {
            lines << QStringLiteral("%1 %2.dat 更新失敗: %3")
                         .arg(exchange::FolderTree::terminalId(entry.terminalNo),
                              entry.master,
                              why(entry.failure.failure()));
        }
    }
    if (!report.failure.isOk()) {
        lines << QStringLiteral("ポーリング失敗: %1").arg(why(report.failure.failure()));
    }
    return lines.join(QLatin1Char('\n'));
}

void MianMenu::setListenCaption(const QString& caption)
{
    m_command1->setText(caption);
}

void MianMenu::setLamp(comm::Lamp lamp)
{
    switch (lamp) {
    case comm::Lamp::White:
        m_shape1->setFillColor(Qt::white);
        break;
    case comm::Lamp::Green:
        m_shape1->setFillColor(kListeningGreen);
        break;
    case comm::Lamp::Background:
        m_shape1->setFillColor(windowBackground());
        break;
    }
}

void MianMenu::setCountdownCaption(const QString& text)
{
    m_lCount->setText(text);
}

void MianMenu::endProgram()
{
    if (m_ended) {
        return;
    }
    m_ended = true;
    qCInfo(lcShell) << "the program ends: no USB port was chosen";
    // A poll in progress goes no further: its running update stops and rolls back.
    if (m_service != nullptr) {
        m_service->stop();
    }
    if (m_hooks.endProgram) {
        m_hooks.endProgram();
        return;
    }
    if (m_masterMenu) {
        m_masterMenu->close();
    }
    close();
    QCoreApplication::exit(0);
}

std::optional<int> MianMenu::chooseUsbPort(const QStringList& ports)
{
    if (m_hooks.chooseUsbPort) {
        return m_hooks.chooseUsbPort(this, ports);
    }
    bool chosen = false;
    const QString port =
        QInputDialog::getItem(this, kProgramTitle, QStringLiteral("USBポート"), ports, 0, false, &chosen);
    if (!chosen) {
        return std::nullopt;
    }
    const qsizetype index = ports.indexOf(port);
    return index < 0 ? std::nullopt : std::optional<int>(static_cast<int>(index));
}

void MianMenu::BtnMaster_Click()
{
    if (m_service == nullptr) {
        return;
    }
    if (!m_masterMenu) {
        m_masterMenu = new MasterMenu(m_service->jobs(), m_hooks.showMessage);
    }
    m_masterMenu->show();
    m_masterMenu->raise();
    m_masterMenu->activateWindow();
}

void MianMenu::Command1_Click()
{
    if (m_service != nullptr) {
        m_service->listenControl().toggleListening();
    }
}

void MianMenu::Command2_Click()
{
    if (m_service != nullptr) {
        m_service->listenControl().searchUsbUnit();
    }
}

void MianMenu::onImportFinished(const jobs::ImportOutcome& outcome)
{
    // The import window was closed while its import ran: the main window tells how it ended.
    if (!m_masterMenu) {
        announceOutcome(this, m_hooks.showMessage, outcome);
    }
}

void MianMenu::closeEvent(QCloseEvent* event)
{
    if (m_masterMenu) {
        m_masterMenu->close();
    }
    event->accept();
    Q_EMIT windowClosed();
}

} // namespace kavelo::gui
