#ifndef KAVELO_GUI_MIANMENU_H
#define KAVELO_GUI_MIANMENU_H

#include "comm/OperatorUi.h"
#include "gui/LampShape.h"
#include "gui/MasterMenu.h"
#include "gui/MessageBox.h"
#include "distribution/MasterPoll.h"
#include "jobs/Outcomes.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;

namespace kavelo::shell {
class Service;
}

namespace kavelo::gui {

// What the window does that a test must not let happen for real.
struct MianMenuHooks
{
    // Message boxes; default: a modal box.
    MessageBoxFunction showMessage = showMessageBox;
    // The end of the program; default: closes the windows and leaves the event loop.
    std::function<void()> endProgram;
    // The choice of a USB port; default: a modal list of the ports. Nothing when declined.
    std::function<std::optional<int>(QWidget* parent, const QStringList& ports)> chooseUsbPort;
};

// The main window "ハンディ通信": the operator's side of the Service. It shows what the Service reports (status
// line, lamp, listen caption, countdown, messages) and the failures of the last poll (LStatus), and forwards the
// clicks; the logic lives in the Service.
class MianMenu : public QWidget, public comm::OperatorUi
{
    Q_OBJECT

  public:
    explicit MianMenu(MianMenuHooks hooks = {}, QWidget* parent = nullptr);
    ~MianMenu() override;
    MianMenu(const MianMenu&) = delete;
    MianMenu& operator=(const MianMenu&) = delete;

    // Wires the buttons and the timer to the service. Call once, before service.start().
    void attach(shell::Service& service);

    // OperatorUi.
    void showMessage(const QString& text) override;
    void setStatusLine(const QString& caption) override;
    void setListenCaption(const QString& caption) override;
    void setLamp(comm::Lamp lamp) override;
    void setCountdownCaption(const QString& text) override;
    void endProgram() override;
    std::optional<int> chooseUsbPort(const QStringList& ports) override;

    // True once the program has ended (the operator declined a USB port): no handler runs any more.
    bool ended() const { return m_ended; }
    // The import window while it is open; null otherwise.
    MasterMenu* masterMenu() const { return m_masterMenu.data(); }

  Q_SIGNALS:
    // The window was closed: the program ends.
    void windowClosed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BtnMaster_Click();
    void Command1_Click();
    void Command2_Click();
    void onPollFinished(const distribution::PollReport& report);
    void onImportFinished(const jobs::ImportOutcome& outcome);
    // Runs one handler's body unless the program has ended; a failure escaping it goes to the status line and log.
    template <typename Body> void handle(const char* handler, Body&& body);
    QColor windowBackground() const;

    MianMenuHooks m_hooks;
    shell::Service* m_service = nullptr;
    // A window of its own (no parent), so that the operator can put it behind this one; closed with this one.
    QPointer<MasterMenu> m_masterMenu;
    bool m_ended = false;

    QPushButton* m_btnMaster = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command1 = nullptr;
    QLabel* m_lCount = nullptr;
    QLabel* m_lStatus = nullptr;
    QLabel* m_label1 = nullptr;
    LampShape* m_shape1 = nullptr;
    QLabel* m_label2 = nullptr;
};

// The text of LStatus for a poll, made from the failures' fields: one line per update file that failed,
// "0004 SHOMAS.dat 更新失敗: 12行目: Windows-31J（シフトJIS）の文字として読めません"; empty when nothing failed.
QString pollFailureLines(const distribution::PollReport& report);

} // namespace kavelo::gui

#endif
