#ifndef KAVELO_IMPORT_MASTERMENU_H
#define KAVELO_IMPORT_MASTERMENU_H

#include "import/HostImport.h"
#include "import/ImportRunner.h"

#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QPushButton;

namespace kavelo::import {

inline const QString kProgramTitle = QStringLiteral("KAVELO");

// Shows one message box with an OK button and returns when the operator has closed it. The windows take it as a
// value so that tests record the messages instead of blocking on them.
using MessageBoxFunction =
    std::function<void(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)>;
// The real one: a modal QMessageBox.
void showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);

// Tells the operator how an import ended: "更新終了" (title "終了しました", information icon), or the master, file,
// line and reason of a failure (title "KAVELO").
void announceOutcome(QWidget* parent, const MessageBoxFunction& showMessage, const ImportOutcome& outcome);

// Runs one event handler's body; a std::exception escaping it is logged and reported through `report`, and the
// window carries on (an exception must never leave a Qt slot).
void guarded(const char* handler, const std::function<void()>& body,
             const std::function<void(const QString& reason)>& report);

// The master import window: six buttons, each importing one host master file, and END. One instance at a time;
// closing it (END or the close box) deletes it. The import runs on the runner, which outlives the window.
class MasterMenu : public QWidget
{
    Q_OBJECT

public:
    // `context` is where the imports read and write (the import database and the host files' folder).
    MasterMenu(ImportRunner& runner, const ImportContext& context, MessageBoxFunction showMessage,
               QWidget* parent = nullptr);
    ~MasterMenu() override;

    const QString& databasePath() const { return m_context.dbPath; }
    const QString& importFolder() const { return m_context.importDir; }

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
    void onFinished(const ImportOutcome& outcome);
    void reflectRunner();
    void setCaptionFor(const QString& master, const QString& state);
    QString captionOfMaster(const QString& master) const;
    void report(const QString& reason);

    ImportRunner& m_runner;
    ImportContext m_context;
    MessageBoxFunction m_showMessage;
    QPushButton* m_btnEnd = nullptr;
    std::vector<ImportButton> m_buttons;
};

} // namespace kavelo::import

#endif
