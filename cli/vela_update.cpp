// vela-update's commands: the command line read, then list, check, install
// (cli/install.cpp), station (cli/station.cpp) or language.
#include "cli/vela_update.h"

#include "cli/options.h"
#include "cli/reporter.h"
#include "cli/tool.h"
#include "cli/wrapping.h"
#include "firmware/firmware_scan.h"
#include "settings/settings.h"
#include "strings/res_qstring.h"

namespace {

int usageError(Tool& tool, const Parsed& parsed) {
    QString text = QStringLiteral("vela-update: ") + Reporter::shown(parsed.error);
    if (parsed.pointToHelp)
        text +=
            QStringLiteral(" Try 'vela-update%1%2--help'.")
                .arg(parsed.command.isEmpty() ? QString() : QChar(kKeepTogether) + parsed.command,
                     QChar(kKeepTogether));
    tool.err << wrapText(text, tool.columns()) << '\n';
    tool.err.flush();
    return kExitUsage;
}

int check(Tool& tool, const Options& options) {
    Reporter reporter(options.json ? OutputMode::Json : OutputMode::Plain, tool.out, tool.err,
                      tool.columns());
    SetToInstall set;
    int exitCode = kExitOk;
    if (!tool.prepare(options, reporter, set, exitCode))
        return exitCode;
    reporter.note(QStringLiteral("The set can be installed."));
    return kExitOk;
}

int list(Tool& tool, const Options& options) {
    Reporter reporter(options.json ? OutputMode::Json : OutputMode::Plain, tool.out, tool.err,
                      tool.columns());
    const std::vector<FoundCalculator> found = findCalculators();
    for (const FoundCalculator& calculator : found) {
        const QString why = qStringFromUtf16(whyNotWritable(calculator));
        reporter.listed(nameOf(calculator.identity), qStringFromUtf16(calculator.path),
                        why.isEmpty(), why);
    }
    if (found.empty())
        return tool.failure(kExitNoCalculator,
                            QStringLiteral("no calculator in update mode is connected."),
                            englishText(Advice::ConnectCalculator));
    return kExitOk;
}

} // namespace

int runVelaUpdate(const QStringList& args, const CliEnvironment& env) {
    Tool tool(env);
    const Parsed parsed = parseArguments(args);
    if (parsed.outcome == Parsed::Answer) {
        tool.out << wrapText(parsed.answer, tool.columns());
        tool.out.flush();
        return kExitOk;
    }
    if (parsed.outcome == Parsed::Wrong)
        return usageError(tool, parsed);
    const Options& options = parsed.options;
    if (options.command == QLatin1String("language")) {
        tool.out << systemLanguage() << '\n';
        tool.out.flush();
        return kExitOk;
    }
    if (options.command == QLatin1String("list"))
        return list(tool, options);
    if (options.command == QLatin1String("check"))
        return check(tool, options);
    if (options.command == QLatin1String("install"))
        return install(tool, options);
    return station(tool, options);
}
