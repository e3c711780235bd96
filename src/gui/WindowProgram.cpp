#include "gui/WindowProgram.h"

#include "gui/MessageBox.h"
#include "gui/MianMenu.h"
#include "gui/OperatorTexts.h"
#include "platform/FolderLock.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "platform/Translations.h"
#include "shell/Service.h"
#include "shell/SignalPipe.h"

#include <QApplication>

#include <csignal>

namespace kavelo::gui {

namespace {

// The operator may have started the program without a console: a failure at start-up is said in a box too.
void tellOperator(const QString& text)
{
    showMessageBox(nullptr, QMessageBox::NoIcon, kProgramTitle, text);
}

} // namespace

int runWindow(const shell::CommandContext& context)
{
    platform::Result<shell::Settings> settings = shell::startCommand(context, QStringLiteral("window"), false);
    if (!settings.isOk()) {
        const std::variant<shell::Settings, shell::SettingsError> reread = shell::loadSettings(context.home);
        const auto* error = std::get_if<shell::SettingsError>(&reread);
        tellOperator(error ? error->japaneseText() : settings.status().message());
        return shell::kExitUsage;
    }

    // The window is built first and outlives the service, which reports to it until it is gone.
    MianMenu window;
    shell::Service service(*settings, window);
    window.attach(service);
    QObject::connect(&window, &MianMenu::windowClosed, qApp, &QCoreApplication::quit);
    // SIGHUP reloads the settings, as for the service (kill -HUP, from a script or another session).
    shell::SignalPipe signalPipe({SIGHUP});
    QObject::connect(&signalPipe, &shell::SignalPipe::received, &window, [&service] {
        platform::guarded(lcShell, "reloading the settings", [&service] {
            qCInfo(lcShell) << "SIGHUP received: reloading KAVELO.ini and the terminal keys";
            [[maybe_unused]] const bool taken = service.reload();
        });
    });

    if (!service.start()) {
        qCInfo(lcShell) << "start-up ended the program";
        return shell::kExitOk;
    }
    window.show();
    const int code = QApplication::exec();
    service.stop();
    qCInfo(lcShell) << "window closed";
    return code;
}

int runWindowProgram(int argc, char** argv, const QString& home)
{
    QApplication app(argc, argv);
    QCoreApplication::installTranslator(&platform::japaneseCatalogue());
    shell::CommandContext context;
    context.argc = argc;
    context.argv = argv;
    if (!shell::enterHome(context, home, false)) {
        return shell::kExitUsage;
    }
    // Held while the window runs, so that no restore replaces the folder under it.
    platform::Result<std::unique_ptr<platform::FolderLock>> lock = platform::FolderLock::open(context.home);
    if (!lock.isOk()) {
        shell::printError(lock.status().message());
        tellOperator(folderNotLockedText(context.home, lock.status().message()));
        return shell::kExitFailed;
    }
    if (!(*lock)->tryLock(platform::FolderLock::Mode::Shared)) {
        shell::printError(platform::FolderLock::busyReason(context.home, platform::FolderLock::Mode::Shared));
        tellOperator(folderBeingRestoredText(context.home));
        return shell::kExitFailed;
    }
    return runWindow(context);
}

} // namespace kavelo::gui
