#include "app/updater_main.h"

#include "app/command_line.h"
#include "app/instance_guard.h"
#include "app/standard_output.h"
#include "base/license_notice.h"
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

    InstanceGuard guard(QString::fromLatin1(kInstanceKey));
    if (!guard.acquire())
        return 0;

    const CommandLine line = parseCommandLine(QCoreApplication::arguments());

    // Lives until the process ends: its destructor would abort the run and
    // talk to the device once more.
    auto* dialog = new CCalcFWUpdateMSDialog(line.folder, line.language, nullptr);
    QApplication::setActiveWindow(dialog);
    dialog->show();
    dialog->scanFirmwareFolder();

    const int exitCode = QApplication::exec();
    // A running transfer is never cut off: this waits for it to end.
    dialog->shutdownWorker();
    return exitCode;
}
