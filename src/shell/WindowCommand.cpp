#include "shell/Commands.h"

#include "import/MasterMenu.h"
#include "platform/Log.h"
#include "shell/MianMenu.h"
#include "shell/Service.h"

#include <QApplication>

namespace kavelo::shell {

int runWindow(const CommandContext& context)
{
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("window"), false);
    if (!settings.isOk()) {
        // The operator may have started the program without a console: say it in a box too.
        import::showMessageBox(nullptr, QMessageBox::NoIcon, import::kProgramTitle, settings.status().message());
        return kExitUsage;
    }

    // The window is built first and outlives the service, which reports to it until it is gone.
    MianMenu window;
    Service service(*settings, window);
    window.attach(service);
    QObject::connect(&window, &MianMenu::windowClosed, qApp, &QCoreApplication::quit);

    if (!service.start()) {
        qCInfo(lcShell) << "start-up ended the program";
        return kExitOk;
    }
    window.show();
    const int code = QApplication::exec();
    service.stop();
    qCInfo(lcShell) << "window closed";
    return code;
}

} // namespace kavelo::shell
