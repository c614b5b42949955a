#include "calc_fw_update_dialog.h"
#include "instance_guard.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv) {
    QApplication application(argc, argv);

    InstanceGuard guard(QString::fromLatin1(kInstanceKey));
    if (!guard.acquire())
        return 0;

    QString folder;
    int language = 1;
    {
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() == 3) {
            folder = arguments.at(1);
            language = arguments.at(2).toInt(nullptr, 10);
        }
    }

    // Lives until the process ends: its destructor would abort the run and
    // talk to the device once more.
    auto* dialog = new CCalcFWUpdateMSDialog(folder, language, nullptr);
    QApplication::setActiveWindow(dialog);
    dialog->show();
    dialog->scanFirmwareFolder();

    const int exitCode = QApplication::exec();
    // A running transfer is never cut off: this waits for it to end.
    dialog->shutdownWorker();
    return exitCode;
}
