// vela-update install: every calculator connected at the start, each in a
// run of its own, the runs side by side.
#include "cli/tool.h"

#include "strings/res_qstring.h"

#include <QElapsedTimer>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

QString tooManyText(std::size_t connected) {
    return QStringLiteral("More than 16 calculators are connected (%1).").arg(connected);
}

} // namespace

int install(Tool& tool, const Options& options) {
    Reporter reporter(tool.outputMode(options), tool.out, tool.err, tool.columns());
    tool.reporter = &reporter;
    SetToInstall set;
    int exitCode = kExitOk;
    if (!tool.prepare(options, reporter, set, exitCode))
        return exitCode;

    // Up to --wait seconds for at least one calculator and at most 16, as the
    // dialog waits: a run never picks 16 of more. One look with --wait 0.
    Present present;
    QElapsedTimer waited;
    waited.start();
    bool toldWaiting = false;
    std::size_t toldTooMany = 0;
    for (;;) {
        present = tool.look();
        const std::size_t found = present.calculators.size();
        if (found > 0 && !present.tooMany())
            break;
        if (tool.presses() > 0)
            return tool.failure(kExitInterrupted,
                                QStringLiteral("interrupted while waiting for a calculator."));
        if (waited.elapsed() >= qint64(options.waitSeconds) * 1000) {
            if (present.tooMany())
                return tool.failure(kExitNoCalculator,
                                    tooManyText(found) + QStringLiteral(" Nothing was written."),
                                    englishText(Advice::UnplugExtra));
            return tool.failure(kExitNoCalculator,
                                QStringLiteral("no calculator in update mode appeared within %1 s.")
                                    .arg(options.waitSeconds),
                                englishText(Advice::ConnectCalculator));
        }
        if (present.tooMany() && toldTooMany != found) {
            toldTooMany = found;
            reporter.note(tooManyText(found) +
                          QStringLiteral(" Nothing is written while they are. ") +
                          englishText(Advice::UnplugExtra));
        } else if (!toldWaiting && !present.tooMany()) {
            reporter.note(QStringLiteral("Waiting up to %1 s for a calculator in update mode...")
                              .arg(options.waitSeconds));
            toldWaiting = true;
        }
        tool.pause();
    }

    const std::vector<FoundCalculator>& found = present.calculators;
    QList<QPair<QString, QString>> plan;
    for (const FoundCalculator& disk : found)
        plan.append({nameOf(disk.identity), qStringFromUtf16(disk.path)});
    reporter.plan(plan);
    if (!options.yes && tool.env.stdinIsTerminal) {
        QTextStream& prompt = options.json ? tool.err : tool.out;
        prompt << "Write these " << set.files.size() << " files to " << found.size()
               << (found.size() == 1 ? " calculator" : " calculators") << "? [y/N] ";
        prompt.flush();
        QString answer;
        const bool answered = tool.env.readLine && tool.env.readLine(answer);
        answer = answer.trimmed().toLower();
        if (!answered || (answer != QLatin1String("y") && answer != QLatin1String("yes")))
            return tool.failure(kExitInterrupted,
                                QStringLiteral("not confirmed: nothing was written."));
    }

    for (const FoundCalculator& disk : found)
        reporter.found(nameOf(disk.identity), qStringFromUtf16(disk.path));

    std::atomic<bool> stopNow{false};
    RunChoices choices;
    choices.stop = &stopNow;
    // One that is unplugged is waited for as long as the first was.
    choices.waitForReturnMs =
        static_cast<int>(std::min<qint64>(qint64(options.waitSeconds) * 1000, INT_MAX));
    std::vector<std::unique_ptr<CalculatorRun>> runs;
    for (const FoundCalculator& disk : found)
        runs.push_back(std::make_unique<CalculatorRun>(disk.identity, set, reporter, choices));
    const auto running = [&runs] {
        int count = 0;
        for (const auto& run : runs)
            count += !run->ended();
        return count;
    };
    int told = 0;
    while (running() > 0) {
        told = tool.tellInterrupt(told, running());
        if (tool.presses() >= 2)
            stopNow.store(true);
        tool.pause([&running] { return running() == 0; });
    }

    // Calculators plugged in during the run were not written: say so.
    for (const FoundCalculator& disk : tool.look().calculators) {
        if (!present.keys.contains(keyOf(disk.identity)))
            reporter.leftAlone(nameOf(disk.identity), QStringLiteral("joined during this run"));
    }

    std::vector<SummaryRow> rows;
    QStringList incomplete;
    bool ok = true;
    for (const auto& run : runs) {
        rows.push_back(run->row());
        ok = ok && rows.back().ok;
        if (run->stopped())
            incomplete << rows.back().calculator;
    }
    // After Ctrl-C the sentence on stderr says how the run ended, once.
    reporter.summary(ok, rows,
                     tool.presses() > 0 ? QString()
                     : ok               ? QStringLiteral("Every calculator was updated.")
                                        : QStringLiteral("Not every calculator was updated."));
    return tool.runEnd(ok, rows, incomplete,
                       ok ? QStringLiteral("interrupted; every update begun was finished.")
                          : QStringLiteral("interrupted; the updates begun were finished, not "
                                           "every one of them well."));
}
