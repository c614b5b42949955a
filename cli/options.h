// What vela-update was asked to do: the command line read into a command and
// its options, and the help texts that describe them.
#pragma once

#include <QString>
#include <QStringList>

constexpr int kDefaultWaitSeconds = 30;

struct Options {
    QString command;
    QString folder;
    QString report; // --report FILE
    bool json = false;
    bool yes = false;
    int waitSeconds = kDefaultWaitSeconds;
    int max = 0;       // 0: no limit
    bool bell = false; // ring at the end of each calculator's run
};

// The command line as it was read.
struct Parsed {
    enum Outcome {
        Run,    // options holds the command to run
        Answer, // --help or --version: answer is the whole output, to be wrapped
        Wrong,  // bad usage: error is the sentence, command the help to point to
    };
    Outcome outcome = Run;
    Options options;
    QString answer;
    QString error;
    QString command;         // empty: the tool's own help
    bool pointToHelp = true; // Wrong: the sentence ends pointing to the help
};

// args without the program name.
[[nodiscard]] Parsed parseArguments(const QStringList& args);
