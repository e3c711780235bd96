#ifndef KAVELO_GUI_MASTERMENU_H
#define KAVELO_GUI_MASTERMENU_H

#include "gui/MessageBox.h"
#include "jobs/JobRunner.h"

#include <QString>
#include <QWidget>

#include <vector>

class QPushButton;

namespace kavelo::gui {

// Tells the operator how an import ended: "更新終了" (title "終了しました", information icon), or the master, file,
// line and reason of a failure (title "KAVELO").
void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const jobs::ImportOutcome& outcome);

// The caption of the import window for the runner's state: "マスター更新", or with the import that waits or runs
// and its progress ("マスター更新 - 商品マスタ 25%", "... 待機中").
QString masterMenuCaption(const jobs::RunnerState& state);

// The master import window: six buttons, each importing one host master file, and END. A window of its own, which
// the operator can put behind the main window; one instance at a time; closing it (END or the close box) deletes
// it. The imports run on the service's job runner, which outlives the window; the window shows the runner's state.
class MasterMenu : public QWidget
{
    Q_OBJECT

  public:
    MasterMenu(jobs::JobRunner& jobs, MessageBoxFunction showMessage, QWidget* parent = nullptr);
    ~MasterMenu() override;

    // Where the imports read and write.
    const QString& databasePath() const { return m_jobs.importContext().database.database; }
    const QString& importFolder() const { return m_jobs.importContext().importDir; }

  private:
    struct ImportButton
    {
        QPushButton* button;
        const masters::MasterDefinition* master;
    };

    void BtnEND_Click();
    void importClicked(const masters::MasterDefinition& master);
    void onFinished(const jobs::ImportOutcome& outcome);
    void reflectImports();
    // Runs one handler's body; a failure escaping it is shown in a message box and the window carries on.
    template <typename Body> void handle(const char* handler, Body&& body);

    jobs::JobRunner& m_jobs;
    MessageBoxFunction m_showMessage;
    QPushButton* m_btnEnd = nullptr;
    std::vector<ImportButton> m_buttons;
};

} // namespace kavelo::gui

#endif
