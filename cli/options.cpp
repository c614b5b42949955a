#include "cli/options.h"

#include "base/license_notice.h"

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "0"
#endif

namespace {

const char kMainHelp[] =
    "Usage: vela-update COMMAND [OPTIONS]\n"
    "Installs a firmware set onto Vela calculators in update mode, without a window.\n"
    "\n"
    "Commands:\n"
    "  list      the calculators in update mode now, and whether each can be written\n"
    "  check     check a firmware folder (and its SHA256SUMS) without any calculator\n"
    "  install   update every connected calculator (at most 16) from a firmware folder\n"
    "  station   update each calculator as it is plugged in, until Ctrl-C\n"
    "  language  the language number the updater takes from the system locale\n"
    "\n"
    "Options:\n"
    "  --help     this text; 'vela-update COMMAND --help' for a command's\n"
    "  --version  the version and the licence\n"
    "\n"
    "Exit codes: 0 every calculator updated, 1 bad usage, 2 no usable firmware set,\n"
    "3 no calculator, 4 at least one calculator failed, 5 the output could not be\n"
    "written, 130 interrupted.\n";

const char kListHelp[] =
    "Usage: vela-update list [--json]\n"
    "Lists the calculators in update mode: identity (serial), device path, and whether\n"
    "the disk can be opened for writing (and why not).\n"
    "  --json     one JSON object per calculator on stdout\n"
    "Exit 0 when at least one is listed, 3 when none.\n";

const char kCheckHelp[] =
    "Usage: vela-update check FOLDER [--json]\n"
    "Checks the firmware set in FOLDER as install would, without any calculator: the\n"
    "three images, their sizes and SHA-256, and SHA256SUMS when the folder has one.\n"
    "  --json     the set as a JSON line on stdout\n"
    "Exit 0 when the set can be installed, 2 (with the reason) when it cannot.\n";

const char kInstallHelp[] =
    "Usage: vela-update install FOLDER [--json] [--wait SECONDS] [--yes] [--report FILE]\n"
    "Writes the firmware set in FOLDER onto every connected calculator (at most 16),\n"
    "then sends each the finish command. A calculator unplugged during the update is\n"
    "waited for, and the update goes on where it stopped when it is back; a file that\n"
    "fails otherwise is retried up to five times.\n"
    "  --json           JSON lines on stdout, one per event\n"
    "  --wait SECONDS   how long to wait for a calculator, and for one unplugged during\n"
    "                   the update (default 30)\n"
    "  --yes            do not ask for confirmation\n"
    "  --report FILE    append one JSON line per calculator to FILE\n"
    "Without --yes it asks on a terminal; it does not ask when stdin is not a terminal.\n";

const char kStationHelp[] =
    "Usage: vela-update station FOLDER [--json] [--max N] [--bell] [--report FILE]\n"
    "Updates each calculator that appears in update mode, each in a run of its own (up\n"
    "to 16 at once), until Ctrl-C or until N calculators have had their run. A\n"
    "calculator with a serial already updated in this run is left alone; one without\n"
    "a serial is updated each time it is plugged in.\n"
    "Ctrl-C while no calculator is being written ends the station, with its summary.\n"
    "While some are, the first Ctrl-C stops taking new calculators and lets those\n"
    "finish; a second stops them after the current chunk and leaves them incomplete.\n"
    "  --json         JSON lines on stdout, one per event\n"
    "  --max N        end after N calculators\n"
    "  --bell         ring the terminal's bell when a calculator's update ends\n"
    "  --report FILE  append one JSON line per calculator to FILE\n"
    "Exit 0 when every calculator was updated, 4 when one failed.\n";

const char kLanguageHelp[] =
    "Usage: vela-update language\n"
    "Prints the language number (1 to 8) the updater takes from the system locale.\n";

bool parseCount(const QString& text, int& out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        return false;
    out = value;
    return true;
}

Parsed wrong(const QString& error, const QString& command = QString()) {
    Parsed parsed;
    parsed.outcome = Parsed::Wrong;
    parsed.error = error;
    parsed.command = command;
    return parsed;
}

Parsed answer(const QString& text) {
    Parsed parsed;
    parsed.outcome = Parsed::Answer;
    parsed.answer = text;
    return parsed;
}

} // namespace

Parsed parseArguments(const QStringList& args) {
    if (args.isEmpty())
        return wrong(QStringLiteral("a command is missing."));
    // --help and --version answer at once, on the tool and on each command.
    const QString version =
        QStringLiteral("vela-update " UPDATER_VERSION "\n") + QString::fromUtf8(kLicenseNotice);
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return answer(QString::fromUtf8(kMainHelp));
    if (first == QLatin1String("--version"))
        return answer(version);
    const QStringList commands{QStringLiteral("list"), QStringLiteral("check"),
                               QStringLiteral("install"), QStringLiteral("station"),
                               QStringLiteral("language")};
    if (!commands.contains(first))
        return wrong(QStringLiteral("'%1' is not a command.").arg(first));
    Parsed parsed;
    Options& options = parsed.options;
    options.command = first;
    const bool takesFolder = first == QLatin1String("install") ||
                             first == QLatin1String("station") || first == QLatin1String("check");
    const bool writes = first == QLatin1String("install") || first == QLatin1String("station");
    const auto tooMany = [&first](const QString& arg) {
        return wrong(QStringLiteral("'%1' is one argument too many for %2.").arg(arg, first),
                     first);
    };
    bool optionsEnded = false; // after "--", a folder may begin with '-'
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded) {
            if (!takesFolder || !options.folder.isNull())
                return tooMany(arg);
            options.folder = arg;
            continue;
        }
        // "--wait=5" as well as "--wait 5".
        QString name = arg;
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(QLatin1String("--")) && arg.contains(QLatin1Char('='))) {
            name = arg.section(QLatin1Char('='), 0, 0);
            value = arg.section(QLatin1Char('='), 1);
            inlineValue = true;
        }
        const auto takeValue = [&](QString& into) {
            if (inlineValue) {
                into = value;
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            into = args.at(++i);
            return true;
        };
        if (name == QLatin1String("--help") || name == QLatin1String("-h"))
            return answer(QString::fromUtf8(first == QLatin1String("list")      ? kListHelp
                                            : first == QLatin1String("check")   ? kCheckHelp
                                            : first == QLatin1String("install") ? kInstallHelp
                                            : first == QLatin1String("station") ? kStationHelp
                                                                                : kLanguageHelp));
        if (name == QLatin1String("--version"))
            return answer(version);
        if (name == QLatin1String("--json") && first != QLatin1String("language") && !inlineValue) {
            options.json = true;
        } else if (name == QLatin1String("--yes") && first == QLatin1String("install") &&
                   !inlineValue) {
            options.yes = true;
        } else if (name == QLatin1String("--wait") && first == QLatin1String("install")) {
            QString text;
            if (!takeValue(text) || !parseCount(text, options.waitSeconds))
                return wrong(QStringLiteral("--wait needs a number of seconds (0 or more)."),
                             first);
        } else if (name == QLatin1String("--report") && writes) {
            if (!takeValue(options.report) || options.report.isEmpty())
                return wrong(QStringLiteral("--report needs a FILE."), first);
        } else if (name == QLatin1String("--bell") && first == QLatin1String("station") &&
                   !inlineValue) {
            options.bell = true;
        } else if (name == QLatin1String("--max") && first == QLatin1String("station")) {
            QString text;
            if (!takeValue(text) || !parseCount(text, options.max) || options.max == 0)
                return wrong(QStringLiteral("--max needs a number of calculators (1 or more)."),
                             first);
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return wrong(QStringLiteral("'%1' is not an option of %2.").arg(name, first), first);
        } else if (takesFolder && options.folder.isNull()) {
            options.folder = arg;
        } else {
            return tooMany(arg);
        }
    }
    if (takesFolder && options.folder.isEmpty())
        return wrong(QStringLiteral("%1 needs the firmware FOLDER.").arg(first), first);
    return parsed;
}
