#include "gui/WindowProgram.h"

#include "gui/MessageBox.h"
#include "gui/MianMenu.h"
#include "platform/Log.h"
#include "shell/Service.h"

#include <QApplication>

namespace kavelo::gui {

int runWindow(const shell::CommandContext& context)
{
    platform::Result<shell::Settings> settings = shell::startCommand(context, QStringLiteral("window"), false);
    if (!settings.isOk()) {
        // The operator may have started the program without a console: say it in a box too.
        showMessageBox(nullptr, QMessageBox::NoIcon, kProgramTitle, settings.status().message());
        return shell::kExitUsage;
    }

    // The window is built first and outlives the service, which reports to it until it is gone.
    MianMenu window;
    shell::Service service(*settings, window);
    window.attach(service);
    QObject::connect(&window, &MianMenu::windowClosed, qApp, &QCoreApplication::quit);

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
    shell::CommandContext context;
    context.argc = argc;
    context.argv = argv;
    if (!shell::enterHome(context, home, false)) {
        return shell::kExitUsage;
    }
    return runWindow(context);
}

} // namespace kavelo::gui
