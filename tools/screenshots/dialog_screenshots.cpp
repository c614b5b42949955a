// Drives the real dialog through the phases of an update against the virtual
// calculator and saves a picture of each: waiting, countdown, transfer,
// retry, done, final failure and no updates; then three calculators, one of
// which fails. Pauses are divided so a full set takes seconds.
//
//   dialog_screenshots OUTDIR [LANGUAGE [FIRMWARE_FOLDER]]
//
// The firmware folder (made if missing, default a temporary one) is the path
// the pictures show.
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/high_dpi.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

QString outDir;
int language = 1;
int failures = 0;

void save(QWidget& dialog, const QString& phase) {
    const QString path = QStringLiteral("%1/%2-%3.png").arg(outDir).arg(language).arg(phase);
    if (!dialog.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

bool waitFor(const std::function<bool()>& condition, int ms = 30000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > ms)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void makeFirmware(const QString& dir) {
    const char* names[] = {"VELA_APP.DAT", "VELA_MAIN.DAT", "VELA_OS.ROM"};
    for (const char* name : names) {
        QFile file(dir + '/' + name);
        if (file.open(QIODevice::WriteOnly))
            // The system image at 0 may hold at most 1 MiB before the next one.
            file.write(QByteArray(QByteArray(name).endsWith(".ROM") ? 1 << 20 : 1 << 21, '\x5a'));
    }
}

std::unique_ptr<CCalcFWUpdateMSDialog> open(const QString& folder) {
    auto dialog = std::make_unique<CCalcFWUpdateMSDialog>(folder, language);
    dialog->show();
    dialog->scanFirmwareFolder();
    return dialog;
}

void check(bool ok, const char* phase) {
    if (!ok) {
        std::fprintf(stderr, "phase not reached: %s\n", phase);
        ++failures;
    }
}

} // namespace

int main(int argc, char** argv) {
    enableHighDpi(); // as the updater does, so that QT_SCALE_FACTOR=2 shows what a user sees
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_screenshots OUTDIR [LANGUAGE [FIRMWARE_FOLDER]]\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    if (argc > 2)
        language = QString::fromLocal8Bit(argv[2]).toInt();
    pacing::testing::setDivisor(10);

    QTemporaryDir temporary;
    const QString firmwarePath = argc > 3 ? QString::fromLocal8Bit(argv[3]) : temporary.path();
    QDir().mkpath(firmwarePath);
    makeFirmware(firmwarePath);

    {
        // A normal run: waiting, countdown, transfer, one retry, done.
        virtual_calculator::Options options;
        options.absent = true;
        virtual_calculator::install(options);
        auto dialog = open(firmwarePath);
        check(waitFor([&] { return dialog->statusLabel->text().endsWith(QLatin1String("...")); }),
              "waiting");
        save(*dialog, QStringLiteral("1-waiting"));

        virtual_calculator::refuseWritesAt(0x500000 + (1 << 20));
        virtual_calculator::setAbsent(false);
        check(waitFor([&] { return dialog->cancelButton->text().endsWith(QLatin1String(" - 3")); }),
              "countdown");
        save(*dialog, QStringLiteral("2-countdown"));

        check(waitFor([&] { return dialog->statusLabel->text().contains(QLatin1String("Retry")); }),
              "retry");
        save(*dialog, QStringLiteral("4-retry"));
        virtual_calculator::refuseWritesAt(-1);

        bool grabbed = false;
        QObject::connect(dialog.get(), &CCalcFWUpdateMSDialog::updateProgress, dialog.get(),
                         [&](int percent) {
                             if (!grabbed && percent >= 40 && percent < 60) {
                                 grabbed = true;
                                 save(*dialog, QStringLiteral("3-transfer"));
                             }
                         });
        check(waitFor([&] { return grabbed; }), "transfer");
        check(waitFor([&] { return !dialog->progressBar->isVisible(); }), "done");
        save(*dialog, QStringLiteral("5-done"));
        dialog.reset();
        virtual_calculator::uninstall();
    }
    {
        virtual_calculator::Options options;
        options.refuseWriteAt = 0x500000;
        virtual_calculator::install(options);
        auto dialog = open(firmwarePath);
        check(waitFor([&] { return !dialog->progressBar->isVisible(); }, 60000), "final failure");
        save(*dialog, QStringLiteral("6-final-failure"));
        dialog.reset();
        virtual_calculator::uninstall();
    }
    {
        QTemporaryDir empty;
        auto dialog = open(empty.path());
        save(*dialog, QStringLiteral("7-no-updates"));
    }
    {
        // Three calculators, the second of which fails halfway through the
        // second file: the list during the transfer and after the end.
        virtual_calculator::Options options;
        options.units = 3;
        options.refuseWriteAt = 0x100000 + (1 << 20);
        options.refuseUnit = 1;
        virtual_calculator::install(options);
        auto dialog = open(firmwarePath);
        bool grabbed = false;
        QObject::connect(dialog.get(), &CCalcFWUpdateMSDialog::updateProgress, dialog.get(),
                         [&](int percent) {
                             if (!grabbed && dialog->currentIndex == 1 && percent >= 40 &&
                                 dialog->calculatorList->isVisible()) {
                                 grabbed = true;
                                 save(*dialog, QStringLiteral("8-calculators-transfer"));
                             }
                         });
        check(waitFor([&] { return !dialog->progressBar->isVisible(); }, 60000),
              "calculators failed");
        check(grabbed, "calculators transfer");
        save(*dialog, QStringLiteral("9-calculators-failed"));
        dialog.reset();
        virtual_calculator::uninstall();
    }
    return failures == 0 ? 0 : 1;
}
