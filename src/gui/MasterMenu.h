#ifndef KAVELO_GUI_MASTERMENU_H
#define KAVELO_GUI_MASTERMENU_H

#include "gui/MessageBox.h"
#include "import/ImportRunner.h"
#include "shell/HostImports.h"

#include <QString>
#include <QWidget>

#include <vector>

class QPushButton;

namespace kavelo::gui {

// Tells the operator how an import ended: "更新終了" (title "終了しました", information icon), or the master, file,
// line and reason of a failure (title "KAVELO").
void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const import::ImportOutcome& outcome);

// The master import window: six buttons, each importing one host master file, and END. A window of its own, which
// the operator can put behind the main window; one instance at a time; closing it (END or the close box) deletes
// it. The imports run on the service's HostImports, which outlive the window.
class MasterMenu : public QWidget
{
    Q_OBJECT

public:
    MasterMenu(shell::HostImports& imports, MessageBoxFunction showMessage, QWidget* parent = nullptr);
    ~MasterMenu() override;

    // Where the imports read and write.
    const QString& databasePath() const { return m_imports.context().dbPath; }
    const QString& importFolder() const { return m_imports.context().importDir; }

private:
    struct ImportButton
    {
        QPushButton* button;
        const masters::MasterDefinition* master;
    };

    void BtnEND_Click();
    void importClicked(const masters::MasterDefinition& master);
    void onWaiting(const QString& master);
    void onStarted(const QString& master);
    void onProgress(const QString& master, qint64 bytesDone, qint64 bytesTotal);
    void onFinished(const import::ImportOutcome& outcome);
    void reflectImports();
    void setCaptionFor(const QString& master, const QString& state);
    QString captionOfMaster(const QString& master) const;
    // Runs one handler's body; a failure escaping it is shown in a message box and the window carries on.
    template <typename Body> void handle(const char* handler, Body&& body);

    shell::HostImports& m_imports;
    MessageBoxFunction m_showMessage;
    QPushButton* m_btnEnd = nullptr;
    std::vector<ImportButton> m_buttons;
};

} // namespace kavelo::gui

#endif
