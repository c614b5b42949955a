// How long the GUI thread's event loop is kept from running while the
// updater starts, aborts or finishes a run: a 10 ms timer records how late
// each of its ticks comes, and the longest delay is printed. The device is
// whatever UPDATER_VIRTUAL_CALCULATOR describes (bench/run_all.sh sets it).
//
// Usage: bench_gui_stall empty|cancel|run <firmware folder>
//   empty   the folder holds no update: "No updates are available", 4 s watched
//   cancel  Cancel is clicked 1 s after the start, while the updater waits
//   run     a whole update to "Done" and the automatic exit
#include "ui/calc_fw_update_dialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kTickMs = 10;

class StallMeter : public QObject {
public:
    explicit StallMeter(QObject* parent) : QObject(parent) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(kTickMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            longest_ = qMax(longest_, now - last_ - qint64(kTickMs) * 1000000);
            last_ = now;
            ++ticks_;
        });
        clock_.start();
        last_ = clock_.nsecsElapsed();
        timer_.start();
    }
    double longestMs() const { return static_cast<double>(longest_) / 1e6; }
    int ticks() const { return ticks_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 longest_ = 0;
    int ticks_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_gui_stall empty|cancel|run <firmware folder>\n");
        return 2;
    }
    const char* scenario = argv[1];
    // From before the window exists: its construction and first scan count.
    auto* meter = new StallMeter(&application);
    QElapsedTimer wall;
    wall.start();
    // As main does it: the dialog lives until the process ends.
    auto* dialog = new CCalcFWUpdateMSDialog(QString::fromLocal8Bit(argv[2]), 1, nullptr);
    dialog->show();
    dialog->scanFirmwareFolder();
    if (std::strcmp(scenario, "empty") == 0)
        QTimer::singleShot(4000, &application, [] { QCoreApplication::exit(0); });
    else if (std::strcmp(scenario, "cancel") == 0)
        QTimer::singleShot(1000, dialog, [dialog] { dialog->cancelButton->click(); });
    const int code = QApplication::exec();
    const double loopSeconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
    // What main does after the loop: wait for the worker and the release.
    dialog->shutdownWorker();
    std::printf("scenario=%s longest_stall_ms=%.1f ticks=%d loop_s=%.2f exit_s=%.2f code=%d\n",
                scenario, meter->longestMs(), meter->ticks(), loopSeconds,
                static_cast<double>(wall.nsecsElapsed()) / 1e9, code);
    return 0;
}
