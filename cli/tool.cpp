#include "cli/tool.h"

#include "base/pacing.h"
#include "cli/wrapping.h"
#include "firmware/firmware_scan.h"
#include "strings/res_qstring.h"

#include <QDir>

#include <algorithm>

namespace {

constexpr int kPollMs = 500;

} // namespace

QString englishText(Advice advice, const QString& arg) {
    return qStringFromUtf16(englishAdvice(advice, arg.toStdU16String()));
}

Tool::Tool(const CliEnvironment& environment)
    : env(environment), out(*environment.out), err(*environment.err) {}

int Tool::failure(int code, const QString& sentence, const QString& next) {
    // Every name in it shown as a terminal may show it: a folder's or a
    // file's name is anybody's bytes.
    QString text = QStringLiteral("vela-update: ") + Reporter::shown(sentence);
    if (!next.isEmpty())
        text += QLatin1Char('\n') + Reporter::shown(next);
    err << wrapText(text, columns()) << '\n';
    err.flush();
    return code;
}

int Tool::presses() const {
    const int pressed = env.interrupts ? env.interrupts->load() : 0;
    const bool broken = (reporter && reporter->outputFailed()) || (report_ && report_->failed());
    return broken ? std::max(pressed, 1) : pressed;
}

int Tool::columns() const {
    return env.terminalColumns > 0 ? env.terminalColumns : 80;
}

OutputMode Tool::outputMode(const Options& options) const {
    if (options.json)
        return OutputMode::Json;
    return env.stdoutIsTerminal ? OutputMode::Terminal : OutputMode::Plain;
}

bool Tool::prepare(const Options& options, Reporter& output, SetToInstall& set, int& exitCode) {
    const FirmwareScan scan = scanFirmwareFiles(options.folder);
    if (scan.files.isEmpty()) {
        const ScanAdvice advice = scanAdvice(scan.problem);
        exitCode = failure(kExitNoFirmware, problemText(scan.problem),
                           englishText(advice.advice, advice.arg));
        return false;
    }
    // Said at once, before any calculator is looked for: a day at a station
    // must not turn out unrecorded.
    if (!options.report.isEmpty()) {
        const QString why = set.report.open(options.report);
        if (!why.isEmpty()) {
            exitCode = failure(kExitUsage, QStringLiteral("the report %1 cannot be written: %2.")
                                               .arg(QDir::toNativeSeparators(options.report), why));
            return false;
        }
        report_ = &set.report;
        reportPath_ = options.report;
    }
    set.files = runFilesOf(scan.files);
    set.folder = scan.folder;
    set.manifest = scan.manifestChecked;
    QList<SetImage> images;
    for (const RunFile& file : set.files)
        images.append({qStringFromUtf16(file.name), file.diskOffset, file.size,
                       QString::fromStdString(Sha256::hex(file.sha256))});
    output.set(set.folder, set.manifest, images);
    return true;
}

Present Tool::look() const {
    Present present;
    present.calculators = findCalculators();
    for (const FoundCalculator& calculator : present.calculators)
        present.keys.insert(keyOf(calculator.identity));
    return present;
}

void Tool::pause(const std::function<bool()>& done) const {
    const int seen = presses();
    for (int waited = 0; waited < kPollMs; waited += 50) {
        if (presses() != seen || (done && done()))
            return;
        pacing::pauseMs(50);
    }
}

int Tool::tellInterrupt(int told, int running) {
    const int pressed = env.interrupts ? std::min(env.interrupts->load(), 2) : 0;
    if (pressed > told && reporter)
        reporter->interrupted(pressed, running);
    return std::max(told, pressed);
}

int Tool::runEnd(bool ok, const std::vector<SummaryRow>& rows, const QStringList& incomplete,
                 const QString& interrupted) {
    if (!incomplete.isEmpty())
        return failure(kExitInterrupted,
                       QStringLiteral("interrupted: left incomplete: %1. Run the update again "
                                      "for them.")
                           .arg(incomplete.join(QStringLiteral(", "))));
    QStringList unrecorded;
    QString why;
    for (const SummaryRow& row : rows) {
        if (!row.unrecorded.isEmpty()) {
            unrecorded << row.calculator;
            why = why.isEmpty() ? row.unrecorded : why;
        }
    }
    if (!unrecorded.isEmpty())
        return failure(kExitOutput,
                       QStringLiteral("the report %1 could not be written (%2): the updates of "
                                      "%3 are not in it.")
                           .arg(QDir::toNativeSeparators(reportPath_), why,
                                unrecorded.join(QStringLiteral(", "))));
    if (reporter && reporter->outputFailed())
        return failure(kExitOutput,
                       QStringLiteral("the output could not be written; no calculator was "
                                      "taken after that, and those begun were finished."));
    if (presses() > 0 && !interrupted.isEmpty())
        return failure(kExitInterrupted, interrupted);
    return ok ? kExitOk : kExitFailed;
}
