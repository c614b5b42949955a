// vela-update: the updater without a window, for scripts, kiosks and a desk
// of calculators. A console program on every platform.
#include "cli/vela_update.h"
#include "device/device_log.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>

#include <atomic>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

// The device layer's diagnostics, silent unless QT_LOGGING_RULES asks for
// them ("updater.device=true"), as for the dialog; they go to stderr.
Q_LOGGING_CATEGORY(lcDevice, "updater.device", QtWarningMsg)

namespace {

void toDeviceCategory(const char* line) {
    qCInfo(lcDevice).noquote() << QString::fromUtf8(line);
}

// Ctrl-C presses; lock-free, so the signal handler may touch it.
std::atomic<int> interrupts{0};

#ifdef _WIN32
BOOL WINAPI onConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    interrupts.fetch_add(1);
    return TRUE;
}

void catchInterrupts() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}
#else
extern "C" void onInterrupt(int) {
    interrupts.fetch_add(1);
}

void catchInterrupts() {
    // Without SA_RESTART: a confirmation being read ends at Ctrl-C.
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool isTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}
#endif

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    catchInterrupts();
    setDeviceLogSink(toDeviceCategory);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.stdinIsTerminal = isTerminal(stdin);
    env.stdoutIsTerminal = isTerminal(stdout);
    env.readLine = [&in](QString& line) { return in.readLineInto(&line); };
    env.interrupts = &interrupts;
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const int code = runVelaUpdate(args, env);
    out.flush();
    err.flush();
    return code;
}
