#pragma once

#include <QString>
#include <QStringList>

struct CommandLine {
    QString folder;       // empty: the stored settings decide
    int language = 1;     // as given; the dialog keeps it only when it lies in 1..8
    bool version = false; // "--version" alone: print the version and licence, show nothing
};

// Both entries are taken only when the list holds the program and exactly two
// arguments; with any other count every argument is ignored, except one
// "--version" on its own.
[[nodiscard]] CommandLine parseCommandLine(const QStringList& arguments);

// The program's arguments as the system gave them: on Linux bytes, kept whole
// as base/utf16_text.h keeps a name, so that a folder of any name reaches the
// dialog; after QApplication has taken its own options out of argv.
[[nodiscard]] QStringList commandLineArguments(int argc, char** argv);
