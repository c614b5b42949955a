// The commands of vela-update, apart from the process around them, so that
// the tests run them in their own process against the virtual calculator.
#pragma once

#include <QStringList>
#include <QTextStream>

#include <atomic>
#include <functional>

// Exit codes, the same on every platform.
enum CliExit : int {
    kExitOk = 0,            // every calculator got every file and its finish command
    kExitUsage = 1,         // bad usage
    kExitNoFirmware = 2,    // no usable firmware set in FOLDER
    kExitNoCalculator = 3,  // no calculator appeared within the wait
    kExitFailed = 4,        // at least one calculator failed
    kExitOutput = 5,        // the output could not be written
    kExitInterrupted = 130, // interrupted (Ctrl-C), or the confirmation declined
};

struct CliEnvironment {
    QTextStream* out = nullptr;
    QTextStream* err = nullptr;
    bool stdinIsTerminal = false;
    bool stdoutIsTerminal = false;
    int terminalColumns = 0; // the terminal's width; 0 when unknown (sentences wrap at 80)
    // Reads one line of the user's answer; false at the end of input.
    std::function<bool(QString&)> readLine;
    // Counts Ctrl-C presses: the first stops taking new calculators, the
    // second stops every transfer after its current chunk.
    const std::atomic<int>* interrupts = nullptr;
};

// args without the program name: {"install", "FOLDER", "--yes"}.
[[nodiscard]] int runVelaUpdate(const QStringList& args, const CliEnvironment& env);

// The whole process: Ctrl-C and the end of a session caught, the terminal
// looked at, runVelaUpdate on the command line (cli/process.cpp).
int velaUpdateMain(int argc, char** argv);
