#include "cli/options.h"

#include "base/license_notice.h"

#include <algorithm>
#include <vector>

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "0"
#endif

namespace {

// Each paragraph is one line, wrapped to the terminal when it is shown; a tab
// marks where a line's continuation begins, \x1f a space no line breaks at
// (cli/wrapping.h).
const char kMainHelp[] =
    u8"Usage: \tvela-update COMMAND [OPTIONS]\n"
    u8"Installs a firmware set onto Vela calculators in update mode, without a window.\n"
    u8"\n"
    u8"Commands:\n"
    u8"  list      \tthe calculators in update mode now, and whether each can be written\n"
    u8"  check     \tcheck a firmware folder (and its SHA256SUMS) without any calculator\n"
    u8"  install   \tupdate every connected calculator (at most 16) from a firmware folder\n"
    u8"  station   \tupdate each calculator as it is plugged in, until Ctrl-C\n"
    u8"  language  \tthe language number the updater takes from the system locale\n"
    u8"\n"
    u8"Options:\n"
    u8"  --help     \tthis text; 'vela-update\x1f"
    u8"COMMAND\x1f--help' for the help of a "
    u8"command\n"
    u8"  --version  \tthe version and the licence\n"
    u8"\n"
    u8"Exit codes: 0 every calculator updated, 1 bad usage, 2 no usable firmware set, 3 no "
    u8"calculator, 4 at least one calculator failed, 5 the output could not be written, 130 "
    u8"interrupted.\n";

const char kListHelp[] =
    u8"Usage: \tvela-update list [--json]\n"
    u8"Lists the calculators in update mode: identity (serial), device path, and whether the "
    u8"disk can be opened for writing (and why not).\n"
    u8"  --json     \tone JSON object per calculator on stdout\n"
    u8"Exit 0 when at least one is listed, 3 when none.\n";

const char kCheckHelp[] =
    u8"Usage: \tvela-update check FOLDER [--json]\n"
    u8"Checks the firmware set in FOLDER as install would, without any calculator: the three "
    u8"images, their sizes and SHA-256, and SHA256SUMS when the folder has one.\n"
    u8"  --json     \tthe set as a JSON line on stdout\n"
    u8"Exit 0 when the set can be installed, 2 (with the reason) when it cannot.\n";

const char kInstallHelp[] =
    u8"Usage: \tvela-update install FOLDER [--json] [--wait\x1fSECONDS] [--yes] "
    u8"[--report\x1f"
    u8"FILE]\n"
    u8"Writes the firmware set in FOLDER onto every connected calculator (at most 16), then "
    u8"sends each the finish command. A calculator unplugged during the update is asked for "
    u8"and waited for, and its update goes on where it stopped when it is back; a file that "
    u8"fails otherwise is retried up to five times.\n"
    u8"  --json           \tJSON lines on stdout, one per event\n"
    u8"  --wait SECONDS   \thow long to wait for a calculator, and for one unplugged during "
    u8"the update (default 30)\n"
    u8"  --yes            \tdo not ask for confirmation\n"
    u8"  --report FILE    \tappend one JSON line per calculator to FILE\n"
    u8"Without --yes it asks on a terminal; it does not ask when stdin is not a terminal.\n";

const char kStationHelp[] =
    u8"Usage: \tvela-update station FOLDER [--json] [--max\x1fN] [--bell] "
    u8"[--report\x1f"
    u8"FILE]\n"
    u8"Updates each calculator that appears in update mode, each in a run of its own (up to "
    u8"16 at once), until Ctrl-C or until N calculators have had their run. A calculator with "
    u8"a serial already updated in this run is left alone; one without a serial is updated "
    u8"each time it is plugged in.\n"
    u8"Ctrl-C while no calculator is being written ends the station, with its summary. While "
    u8"some are, the first Ctrl-C stops taking new calculators and lets those finish; a second "
    u8"stops them after the current chunk and leaves them incomplete.\n"
    u8"  --json         \tJSON lines on stdout, one per event\n"
    u8"  --max N        \tend after N calculators\n"
    u8"  --bell         \tring the terminal's bell when a calculator's update ends\n"
    u8"  --report FILE  \tappend one JSON line per calculator to FILE\n"
    u8"Exit 0 when every calculator was updated, 4 when one failed.\n";

const char kLanguageHelp[] =
    u8"Usage: \tvela-update language\n"
    u8"Prints the language number (1 to 8) the updater takes from the system locale.\n";

// The letters to change, add, drop or swap to make one word the other
// (optimal string alignment), without regard to case.
int editDistance(const QString& a, const QString& b) {
    const QString x = a.toLower();
    const QString y = b.toLower();
    std::vector<std::vector<int>> d(x.size() + 1, std::vector<int>(y.size() + 1));
    for (int i = 0; i <= x.size(); ++i)
        d[i][0] = i;
    for (int j = 0; j <= y.size(); ++j)
        d[0][j] = j;
    for (int i = 1; i <= x.size(); ++i) {
        for (int j = 1; j <= y.size(); ++j) {
            const int change = x.at(i - 1) == y.at(j - 1) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && x.at(i - 1) == y.at(j - 2) && x.at(i - 2) == y.at(j - 1))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[x.size()][y.size()];
}

// The command a mistyped one is most likely meant to be: one slip in a short
// name, two in a longer one; none when nothing is that close.
QString nearest(const QString& typed, const QStringList& commands) {
    QString best;
    int bestDistance = 0;
    for (const QString& command : commands) {
        const int distance = editDistance(typed, command);
        const int allowed = command.size() <= 5 ? 1 : 2;
        if (distance <= allowed && distance < typed.size() &&
            (best.isEmpty() || distance < bestDistance)) {
            best = command;
            bestDistance = distance;
        }
    }
    return best;
}

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
    if (!commands.contains(first)) {
        const QString meant = nearest(first, commands);
        if (meant.isEmpty())
            return wrong(QStringLiteral("'%1' is not a command.").arg(first));
        Parsed parsed =
            wrong(QStringLiteral("'%1' is not a command. Did you mean '%2'?").arg(first, meant));
        parsed.pointToHelp = false;
        return parsed;
    }
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
