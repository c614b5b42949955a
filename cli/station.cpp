// vela-update station: each calculator that appears in update mode gets a
// run of its own, until Ctrl-C or --max.
#include "cli/tool.h"

#include "strings/res_qstring.h"

#include <memory>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Each run's threads allocate in arenas of their own; what they freed stays
// with the process unless it is handed back, and a station that runs all day
// would grow with every calculator.
void giveBackFreeMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// A station's last words: how many were updated, and which failed.
QString stationEnded(const std::vector<SummaryRow>& rows) {
    int updated = 0;
    QStringList failed;
    for (const SummaryRow& row : rows) {
        if (row.ok)
            ++updated;
        else if (!failed.contains(row.calculator))
            failed << row.calculator;
    }
    if (rows.empty())
        return QStringLiteral("Station ended: no calculator was updated.");
    QString text = QStringLiteral("Station ended: %1 updated, %2 failed")
                       .arg(updated)
                       .arg(static_cast<int>(rows.size()) - updated);
    if (!failed.isEmpty())
        text += QStringLiteral(" (%1)").arg(failed.join(QStringLiteral(", ")));
    return text + QLatin1Char('.');
}

} // namespace

int station(Tool& tool, const Options& options) {
    Reporter reporter(tool.outputMode(options), tool.out, tool.err, tool.columns());
    tool.reporter = &reporter;
    reporter.setBell(options.bell);
    SetToInstall set;
    int exitCode = kExitOk;
    if (!tool.prepare(options, reporter, set, exitCode))
        return exitCode;
    reporter.note(QStringLiteral("Station: each calculator connected in update mode is updated, "
                                 "up to 16 at once."));

    std::atomic<bool> stopNow{false};
    RunChoices choices;
    choices.stop = &stopNow;
    choices.takenAgain = true;
    std::vector<std::unique_ptr<CalculatorRun>> running;
    std::vector<SummaryRow> rows;
    QStringList incomplete;
    QSet<QString> updated;      // every file and the finish command went out
    QSet<QString> stillPresent; // its run ended and it has not been unplugged since
    QSet<QString> announced;    // shown as already done while it stays plugged in
    int started = 0;
    int done = 0;
    int failed = 0;
    int told = 0;
    bool idle = false;
    // Ctrl-C while no calculator is written is how a station ends: nothing
    // is left incomplete.
    bool atRest = false;

    for (;;) {
        const Present present = tool.look();
        // A calculator unplugged since may come back as a new arrival.
        stillPresent.intersect(present.keys);
        announced.intersect(present.keys);

        for (auto it = running.begin(); it != running.end();) {
            if (!(*it)->ended()) {
                ++it;
                continue;
            }
            const SummaryRow row = (*it)->row();
            const QString ended = keyOf((*it)->disk());
            rows.push_back(row);
            if ((*it)->stopped())
                incomplete << row.calculator;
            (row.ok ? done : failed) += 1;
            // Only a serial number says that a calculator seen again is this
            // one: one without is updated each time it is plugged in.
            if (row.ok && (*it)->disk().hasSerial())
                updated.insert(ended);
            if (present.keys.contains(ended))
                stillPresent.insert(ended);
            it = running.erase(it);
            reporter.counts(done, failed);
            giveBackFreeMemory();
        }

        const int pressed = tool.presses();
        if (pressed > 0 && told == 0 && running.empty()) {
            atRest = true;
            break;
        }
        told = tool.tellInterrupt(told, static_cast<int>(running.size()));
        if (pressed >= 2)
            stopNow.store(true);
        const bool taking = pressed == 0 && (options.max == 0 || started < options.max);

        for (const FoundCalculator& disk : present.calculators) {
            const QString id = keyOf(disk.identity);
            bool busy = stillPresent.contains(id);
            for (const auto& run : running)
                busy = busy || keyOf(run->disk()) == id;
            if (busy)
                continue;
            if (updated.contains(id)) {
                if (!announced.contains(id)) {
                    announced.insert(id);
                    reporter.leftAlone(nameOf(disk.identity), QStringLiteral("already done"));
                }
                continue;
            }
            if (!taking || running.size() >= static_cast<std::size_t>(kMaxCalculators))
                continue;
            if (idle)
                reporter.idle(idle = false);
            reporter.found(nameOf(disk.identity), qStringFromUtf16(disk.path));
            if (!disk.identity.hasSerial())
                reporter.note(QStringLiteral("The calculator at %1 has no serial number: it is "
                                             "updated each time it is plugged in.")
                                  .arg(qStringFromUtf16(describeDisk(disk.identity))));
            running.push_back(
                std::make_unique<CalculatorRun>(disk.identity, set, reporter, choices));
            ++started;
        }
        if (running.empty() && !taking)
            break;
        if (running.empty() && !idle)
            reporter.idle(idle = true);
        tool.pause([&running] {
            for (const auto& run : running)
                if (run->ended())
                    return true;
            return false;
        });
    }

    if (idle)
        reporter.idle(false);
    const bool ok = failed == 0;
    const bool interrupted = tool.presses() > 0 && !atRest;
    reporter.summary(ok, rows, interrupted ? QString() : stationEnded(rows));
    return tool.runEnd(
        ok, rows, incomplete,
        interrupted ? QStringLiteral("interrupted: %1 updated, %2 failed.").arg(done).arg(failed)
                    : QString());
}
