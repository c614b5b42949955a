#include "app/updater_main.h"

#include "app/command_line.h"
#include "app/instance_guard.h"
#include "app/raise_request.h"
#include "app/standard_output.h"
#include "base/license_notice.h"
#include "settings/diagnostics.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/high_dpi.h"

#include <string>

namespace {

QtMessageHandler qtMessageHandler = nullptr;

// Qt's offscreen platform warns each time a window's size hints change that it
// cannot hand them on: there is no window manager to take them. In a headless
// run those lines were all a user saw; every other message goes through.
void dropOffscreenSizeHintWarning(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message) {
    if (type == QtWarningMsg &&
        message == QLatin1String("This plugin does not support propagateSizeHints()"))
        return;
    qtMessageHandler(type, context, message);
}

// The user started the updater again to find its window: bring it back from
// the taskbar and to the front. On X11 the window manager may still refuse
// the focus to a window that did not get the user's last input; this asks
// for it as far as Qt can.
void bringForward(QWidget* window) {
    qCInfo(lcUi) << "another start asked for the window; minimised:" << window->isMinimized();
    if (window->isMinimized())
        window->showNormal();
    window->raise();
    window->activateWindow();
}

} // namespace

int runUpdater(int argc, char** argv, const std::function<void(QApplication&)>& atStart) {
    // Answered before the application and the guard exist: it needs no
    // display, and another updater being open does not silence it.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (parseCommandLine(arguments).version)
        return writeStandardOutput(std::string("Updater " UPDATER_VERSION "\n") + kLicenseNotice)
                   ? 0
                   : 1;

    qtMessageHandler = qInstallMessageHandler(dropOffscreenSizeHintWarning);
    enableHighDpi();
    QApplication application(argc, argv);
    if (atStart)
        atStart(application);

    const QString key = QString::fromLatin1(kInstanceKey);
    InstanceGuard guard(key);
    if (!guard.acquire()) {
        // Another updater is open: its window comes forward, and this start
        // ends as it always has, whether or not the other one heard.
        requestRaise(key);
        return 0;
    }

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());

    // Lives until the process ends: its destructor would abort the run and
    // talk to the device once more.
    auto* dialog = new CCalcFWUpdateMSDialog(line.folder, line.language, nullptr);
    QApplication::setActiveWindow(dialog);
    dialog->show();
    dialog->scanFirmwareFolder();

    int exitCode = 0;
    {
        // Only while the event loop runs: after it the window is closed for
        // good, and a request must not bring it back.
        RaiseListener raiseListener(key, dialog, [dialog] { bringForward(dialog); });
        exitCode = QApplication::exec();
    }
    // A running transfer is never cut off: this waits for it to end.
    dialog->shutdownWorker();
    return exitCode;
}
