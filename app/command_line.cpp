#include "app/command_line.h"

#include "base/utf16_text.h"
#include "strings/res_qstring.h"

#include <QCoreApplication>

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    if (arguments.size() == 2 && arguments.at(1) == QLatin1String("--version")) {
        line.version = true;
    } else if (arguments.size() == 3) {
        line.folder = arguments.at(1);
        line.language = arguments.at(2).toInt(nullptr, 10);
    }
    return line;
}

QStringList commandLineArguments(int argc, char** argv) {
    QStringList arguments;
#ifdef _WIN32
    // The command line is UTF-16 here, which Qt keeps; argv is not.
    if (QCoreApplication::instance())
        return QCoreApplication::arguments();
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
#else
    for (int i = 0; i < argc; ++i)
        arguments << qStringFromUtf16(utf16FromByteName(argv[i]));
#endif
    return arguments;
}
