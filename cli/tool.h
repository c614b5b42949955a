// What vela-update's commands share: the process's streams and Ctrl-C
// presses, how the tool says a sentence, the set checked before anything is
// written, the one way to look for calculators, and how a run that has begun
// ends.
#pragma once

#include "cli/calculator_run.h"
#include "cli/options.h"
#include "cli/reporter.h"
#include "cli/vela_update.h"
#include "device/calculators.h"
#include "session/advice.h"

#include <QSet>

#include <functional>
#include <vector>

// The calculators in update mode at one look.
struct Present {
    std::vector<FoundCalculator> calculators;
    QSet<QString> keys; // keyOf each

    [[nodiscard]] bool tooMany() const {
        return calculators.size() > static_cast<std::size_t>(kMaxCalculators);
    }
};

class Tool {
public:
    explicit Tool(const CliEnvironment& env);

    // The tool's sentence on stderr, then what to do next on a line of its
    // own when there is something to do; code is returned.
    int failure(int code, const QString& sentence, const QString& next = QString());
    // Ctrl-C presses so far; an output or a report that can no longer be
    // written counts as the first.
    [[nodiscard]] int presses() const;
    [[nodiscard]] OutputMode outputMode(const Options& options) const;
    // The width every sentence is wrapped to: the terminal's, else 80.
    [[nodiscard]] int columns() const;

    // What the commands that write begin with: the set checked (against
    // SHA256SUMS too), the report file opened, and the set said. False, with
    // the exit code, when it cannot go on.
    bool prepare(const Options& options, Reporter& reporter, SetToInstall& set, int& exitCode);

    // The calculators present now. Install and station look alike: a look,
    // then pause() until the next one.
    [[nodiscard]] Present look() const;
    // A poll's pause, cut short when Ctrl-C is pressed or `done` holds.
    void pause(const std::function<bool()>& done = {}) const;

    // Says once what each Ctrl-C does now, `running` updates still going;
    // returns the presses told of.
    int tellInterrupt(int told, int running);
    // How a run that has begun ends, after its summary; a Ctrl-C pressed is
    // an interruption, said so, unless `interrupted` is empty.
    int runEnd(bool ok, const std::vector<SummaryRow>& rows, const QStringList& incomplete,
               const QString& interrupted);

    const CliEnvironment& env;
    QTextStream& out;
    QTextStream& err;
    Reporter* reporter = nullptr; // of the command that runs

private:
    const UpdateReport* report_ = nullptr; // its report, when it has one
    QString reportPath_;
};

// What to do next, as the tool says it (English).
[[nodiscard]] QString englishText(Advice advice, const QString& arg = QString());

int install(Tool& tool, const Options& options);
int station(Tool& tool, const Options& options);
