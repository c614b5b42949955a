// vela-update as a process: its signals and console events, its terminal,
// its streams. A console program on every platform.
#include "base/utf16_text.h"
#include "cli/vela_update.h"
#include "device/calculators.h"
#include "settings/diagnostics.h"
#include "strings/res_qstring.h"

#include <QCoreApplication>
#include <QTextStream>

#include <atomic>
#include <cstdio>
#include <initializer_list>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

// Ctrl-C presses; lock-free, so the signal handler may touch it.
std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

// The end of the session (SIGTERM, SIGHUP, a console closed): as a second
// Ctrl-C, every transfer stops after the chunk it is writing, so that none is
// cut in the middle and the calculators left incomplete are named.
void stopNow() {
    int seen = interrupts.load();
    while (seen < 2 && !interrupts.compare_exchange_weak(seen, 2)) {
    }
}

#ifdef _WIN32
// Set once main is about to return; a console being closed waits for it.
std::atomic<bool> ended{false};

BOOL WINAPI onConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        interrupts.fetch_add(1);
        return TRUE;
    }
    if (type != CTRL_CLOSE_EVENT && type != CTRL_LOGOFF_EVENT && type != CTRL_SHUTDOWN_EVENT)
        return FALSE;
    // Windows ends the process once this handler returns, and at the latest
    // about 5 s after the event: the stop after the current chunk and the
    // last words fit in that time.
    stopNow();
    for (int waited = 0; waited < 4500 && !ended.load(); waited += 50)
        Sleep(50);
    return TRUE;
}

void catchInterrupts() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

// A report opened here never takes a standard stream's number.
void holdStandardStreams() {}

// Windows hands the command line over as UTF-16, which Qt keeps.
QStringList argumentsOf(int, char**) {
    return QCoreApplication::arguments().mid(1);
}

bool isTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

// The console's width, seen from stdout or, when that goes to a file, stderr.
int terminalColumns() {
    for (DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (GetConsoleScreenBufferInfo(GetStdHandle(stream), &info))
            return info.srWindow.Right - info.srWindow.Left + 1;
    }
    return 0;
}
#else
extern "C" void onInterrupt(int) {
    interrupts.fetch_add(1);
}

extern "C" void onHangUp(int) {
    stopNow();
}

void catchInterrupts() {
    // Without SA_RESTART: a confirmation being read ends at Ctrl-C.
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    action.sa_handler = onHangUp;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A reader that went away (vela-update ... | head -1) is an output that
    // fails, not a reason to die in the middle of a file; so is a report
    // past the largest file the system lets this process write.
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

// A standard stream closed at start leaves its number free: the next file
// opened (the report) would take it, and what is said there would land in
// that file. /dev/null takes it instead, before anything is opened.
void holdStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF)
            (void)::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
}

// The arguments as the system gave them: bytes, kept whole as
// base/utf16_text.h keeps a name, so that a folder of any name can be used.
QStringList argumentsOf(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << qStringFromUtf16(utf16FromByteName(argv[i]));
    return arguments;
}

bool isTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) != 0;
}

// The terminal's width, seen from stdout or, when that goes to a file, stderr.
int terminalColumns() {
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct winsize size {};
        if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            return size.ws_col;
    }
    return 0;
}
#endif

} // namespace

int velaUpdateMain(int argc, char** argv) {
    holdStandardStreams();
    QCoreApplication app(argc, argv);
    catchInterrupts();
    // Silent unless QT_LOGGING_RULES asks for them, as for the dialog; stderr.
    setDeviceLogSink(deviceLogLine);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QTextStream in(stdin);
    CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.stdinIsTerminal = isTerminal(stdin);
    env.stdoutIsTerminal = isTerminal(stdout);
    // Neither a terminal nor COLUMNS: the tool wraps at 80.
    env.terminalColumns = terminalColumns();
    if (env.terminalColumns == 0)
        env.terminalColumns = qEnvironmentVariableIntValue("COLUMNS");
    env.readLine = [&in](QString& line) { return in.readLineInto(&line); };
    env.interrupts = &interrupts;
    const int code = runVelaUpdate(argumentsOf(argc, argv), env);
    out.flush();
    err.flush();
#ifdef _WIN32
    ended.store(true);
#endif
    return code;
}
