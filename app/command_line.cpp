#include "app/command_line.h"

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
