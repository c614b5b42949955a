#include "cli/vela_update.h"

#include "base/license_notice.h"
#include "base/pacing.h"
#include "cli/reporter.h"
#include "cli/update_report.h"
#include "device/calculators.h"
#include "firmware/firmware_scan.h"
#include "session/update_run.h"
#include "settings/settings.h"
#include "strings/res_qstring.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <memory>
#include <thread>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "0"
#endif

namespace {

// Each session's threads allocate in arenas of their own; what they freed
// stays with the process unless it is handed back, and a station that runs
// all day would grow with every calculator.
void giveBackFreeMemory() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

constexpr int kPollMs = 500;
constexpr int kDefaultWaitSeconds = 30;

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
    "each file retried up to five times per calculator, then sends each the finish\n"
    "command.\n"
    "  --json           JSON lines on stdout, one per event\n"
    "  --wait SECONDS   how long to wait for a calculator (default 30)\n"
    "  --yes            do not ask for confirmation\n"
    "  --report FILE    append one JSON line per calculator to FILE\n"
    "Without --yes it asks on a terminal; it does not ask when stdin is not a terminal.\n";

const char kStationHelp[] =
    "Usage: vela-update station FOLDER [--json] [--max N] [--report FILE]\n"
    "Updates each calculator that appears in update mode, each in its own session (up\n"
    "to 16 at once), until Ctrl-C or until N calculators have had their session. A\n"
    "calculator with a serial already updated in this run is left alone; one without\n"
    "a serial is updated each time it is plugged in. The first Ctrl-C stops\n"
    "taking new calculators and lets running ones finish; a second stops after the\n"
    "current chunk.\n"
    "  --json         JSON lines on stdout, one per event\n"
    "  --max N        end after N calculators\n"
    "  --report FILE  append one JSON line per calculator to FILE\n";

const char kLanguageHelp[] =
    "Usage: vela-update language\n"
    "Prints the language number (1 to 8) the updater takes from the system locale.\n";

struct Options {
    QString command;
    QString folder;
    QString report; // --report FILE
    bool json = false;
    bool yes = false;
    int waitSeconds = kDefaultWaitSeconds;
    int max = 0; // 0: no limit
};

// What the runs of one command share: the set as it was checked, and the
// record of every update.
struct Session {
    std::vector<RunFile> files;
    QString folder;
    bool manifest = false; // every image matched SHA256SUMS
    UpdateReport report;   // open when --report was given
};

class Cli {
public:
    explicit Cli(const CliEnvironment& env) : env_(env), out_(*env.out), err_(*env.err) {}

    int run(const QStringList& args);

private:
    int usageError(const QString& sentence, const QString& command = QString()) {
        err_ << "vela-update: " << Reporter::shown(sentence) << " Try 'vela-update"
             << (command.isEmpty() ? QString() : QLatin1Char(' ') + command) << " --help'.\n";
        err_.flush();
        return kExitUsage;
    }
    int failure(int code, const QString& sentence) {
        // Every name in it shown as a terminal may show it: a folder's or a
        // file's name is anybody's bytes.
        const QString line = QStringLiteral("vela-update: ") + Reporter::shown(sentence);
        err_ << (reporter_ ? reporter_->wrapped(line) : line) << '\n';
        err_.flush();
        return code;
    }
    // Ctrl-C presses so far; an output or a report that can no longer be
    // written counts as the first.
    [[nodiscard]] int presses() const {
        const int pressed = env_.interrupts ? env_.interrupts->load() : 0;
        const bool broken =
            (reporter_ && reporter_->outputFailed()) || (report_ && report_->failed());
        return broken ? std::max(pressed, 1) : pressed;
    }
    // How a run that has begun ends, after its summary.
    int runEnd(bool ok, const std::vector<SummaryRow>& rows, const QStringList& incomplete,
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
        if (reporter_ && reporter_->outputFailed())
            return failure(kExitOutput,
                           QStringLiteral("the output could not be written; no calculator was "
                                          "taken after that, and those begun were finished."));
        if (presses() > 0)
            return failure(kExitInterrupted, interrupted);
        return ok ? kExitOk : kExitFailed;
    }
    // A poll's pause, cut short when Ctrl-C is pressed or `done` holds.
    void pause(const std::function<bool()>& done = {}) {
        const int seen = presses();
        for (int waited = 0; waited < kPollMs; waited += 50) {
            if (presses() != seen || (done && done()))
                return;
            pacing::pauseMs(50);
        }
    }
    // Says once what each Ctrl-C does now; returns the presses told of.
    template <typename Sessions>
    int tellInterrupt(Reporter& reporter, int told, const Sessions& sessions) {
        const int pressed = env_.interrupts ? std::min(env_.interrupts->load(), 2) : 0;
        if (pressed > told) {
            int running = 0;
            for (const auto& session : sessions)
                running += !session->ended();
            reporter.interrupted(pressed, running);
        }
        return std::max(told, pressed);
    }
    [[nodiscard]] OutputMode outputMode(const Options& options) const {
        if (options.json)
            return OutputMode::Json;
        return env_.stdoutIsTerminal ? OutputMode::Terminal : OutputMode::Plain;
    }

    int parse(const QStringList& args, Options& options, bool& done, int& exitCode);
    int list(const Options& options);
    int check(const Options& options);
    int install(const Options& options);
    int station(const Options& options);
    // What the commands that write begin with: the set checked (against
    // SHA256SUMS too), the report file opened, and the set said. False, with
    // the exit code, when it cannot go on.
    bool prepare(const Options& options, Reporter& reporter, Session& session, int& exitCode);

    const CliEnvironment& env_;
    QTextStream& out_;
    QTextStream& err_;
    const Reporter* reporter_ = nullptr;   // of the command that runs
    const UpdateReport* report_ = nullptr; // its report, when it has one
    QString reportPath_;
};

QString nameOf(const DiskIdentity& disk) {
    return qStringFromUtf16(calculatorName(disk));
}

bool parseCount(const QString& text, int& out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0)
        return false;
    out = value;
    return true;
}

QString utcNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

// One calculator's run on a thread of its own: what it does goes to the
// output, named by its calculator, and its line to the report when it has
// ended.
class RunningSession : private RunObserver {
public:
    RunningSession(DiskIdentity disk, Session& session, Reporter& reporter,
                   const std::atomic<bool>& stopNow)
        : disk_(std::move(disk)), session_(session), reporter_(reporter),
          results_(session.files.size(), kNotWritten) {
        run_.begin(session.files, disk_, this);
        started_ = utcNow();
        clock_.start();
        thread_ = std::thread([this, &stopNow] {
            RunOptions options;
            options.stop = &stopNow;
            result_ = run_.run(options);
            seconds_ = static_cast<double>(clock_.elapsed()) / 1000.0;
            // A session whose line is not in the report is not over well: a
            // day at a station must not turn out unrecorded.
            QString why;
            if (session_.report.isOpen() && !session_.report.append(reportLine(), why))
                unrecorded_ = why;
            ended_.store(true);
        });
    }
    ~RunningSession() override {
        if (thread_.joinable())
            thread_.join();
    }
    [[nodiscard]] bool ended() const { return ended_.load(); }
    [[nodiscard]] const DiskIdentity& disk() const { return disk_; }
    // After ended(): joins and gives the result.
    [[nodiscard]] SummaryRow row() {
        if (thread_.joinable())
            thread_.join();
        return {nameOf(disk_),  result_.result == kResultOk && unrecorded_.isEmpty(),
                result_.result, result_.filesWritten,
                seconds_,       qStringFromUtf16(result_.cause),
                unrecorded_};
    }
    [[nodiscard]] bool stopped() {
        if (thread_.joinable())
            thread_.join();
        return result_.stopped;
    }

private:
    // A file never written: it has no result yet.
    static constexpr ResultCode kNotWritten = -1;

    // RunObserver, on the run's threads.
    std::size_t indexOf(const RunFile& file) const {
        std::size_t i = 0;
        while (i < session_.files.size() && session_.files[i].path != file.path)
            ++i;
        return i;
    }
    void fileStarted(const DiskIdentity& disk, const RunFile& file) override {
        reporter_.file(nameOf(disk), qStringFromUtf16(file.name),
                       static_cast<int>(indexOf(file)) + 1, static_cast<int>(session_.files.size()),
                       file.diskOffset, file.size);
    }
    void progress(const DiskIdentity& disk, int percent) override {
        reporter_.progress(nameOf(disk), percent);
    }
    void fileEnded(const DiskIdentity& disk, const RunFile& file, ResultCode code,
                   const std::u16string& cause) override {
        const std::size_t i = indexOf(file);
        if (i < results_.size())
            results_[i] = code;
        reporter_.fileDone(nameOf(disk), code, qStringFromUtf16(cause));
    }
    void retrying(const DiskIdentity& disk, ResultCode code, int attempt) override {
        reporter_.retry(nameOf(disk), code, attempt);
    }
    void finished(const DiskIdentity& disk, ResultCode code, const std::u16string& cause) override {
        const bool updated = std::all_of(results_.begin(), results_.end(),
                                         [](ResultCode result) { return result == kResultOk; });
        reporter_.finish(nameOf(disk), updated, code == kResultOk, qStringFromUtf16(cause));
    }

    // Who, when, what and how it ended: enough to answer from the report
    // alone which calculators got which set, and which failed and why.
    QString reportLine() const {
        const auto field = [](const char* name, const QString& value) {
            return QStringLiteral(",\"%1\":").arg(QLatin1String(name)) +
                   Reporter::jsonString(value);
        };
        QString line = QStringLiteral("{\"version\":\"" UPDATER_VERSION "\"") +
                       field("started", started_) + field("ended", utcNow()) + QLatin1Char(',') +
                       Reporter::nameField(QStringLiteral("calculator"), nameOf(disk_));
        line += disk_.hasSerial()
                    ? QLatin1Char(',') + Reporter::nameField(QStringLiteral("serial"),
                                                             qStringFromUtf16(disk_.serial))
                    : field("port", qStringFromUtf16(disk_.port));
        line += QLatin1Char(',') + Reporter::nameField(QStringLiteral("folder"), session_.folder) +
                QStringLiteral(",\"manifest\":%1,\"images\":[")
                    .arg(session_.manifest ? QStringLiteral("true") : QStringLiteral("false"));
        for (std::size_t i = 0; i < session_.files.size(); ++i) {
            const RunFile& file = session_.files[i];
            line +=
                QStringLiteral("%1{%2,\"sha256\":\"%3\",\"result\":%4}")
                    .arg(i == 0 ? QString() : QStringLiteral(","))
                    .arg(Reporter::nameField(QStringLiteral("name"), qStringFromUtf16(file.name)))
                    .arg(QString::fromStdString(Sha256::hex(file.sha256)))
                    .arg(results_[i] == kNotWritten ? QStringLiteral("null")
                                                    : QString::number(results_[i]));
        }
        line += QStringLiteral("],\"result\":%1").arg(result_.result) +
                field("cause", qStringFromUtf16(result_.cause)) +
                QStringLiteral(",\"finish_sent\":%1}")
                    .arg(result_.finishSent ? QStringLiteral("true") : QStringLiteral("false"));
        return line;
    }

    DiskIdentity disk_;
    Session& session_;
    Reporter& reporter_;
    std::vector<ResultCode> results_; // per file, its last result (run's thread)
    UpdateRun run_;
    QString started_;
    QElapsedTimer clock_;
    RunSummary result_;
    double seconds_ = 0;
    QString unrecorded_; // why its line is not in the report (run's thread, then joined)
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

// Two calculators without a serial number share a name but not a key.
QString key(const DiskIdentity& disk) {
    return qStringFromUtf16(identityKey(disk));
}

QString tooManyText(std::size_t connected) {
    return QStringLiteral("More than 16 calculators are connected (%1): unplug all but 16.")
        .arg(connected);
}

} // namespace

int Cli::parse(const QStringList& args, Options& options, bool& done, int& exitCode) {
    done = false;
    if (args.isEmpty())
        return exitCode = usageError(QStringLiteral("a command is missing."));
    // --help and --version answer at once, on the tool and on each command.
    const auto answer = [&](const char* text) {
        out_ << text;
        done = true;
        return exitCode = kExitOk;
    };
    const QByteArray version =
        QByteArrayLiteral("vela-update " UPDATER_VERSION "\n") + kLicenseNotice;
    const QString first = args.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h"))
        return answer(kMainHelp);
    if (first == QLatin1String("--version"))
        return answer(version.constData());
    const QStringList commands{QStringLiteral("list"), QStringLiteral("check"),
                               QStringLiteral("install"), QStringLiteral("station"),
                               QStringLiteral("language")};
    if (!commands.contains(first))
        return exitCode = usageError(QStringLiteral("'%1' is not a command.").arg(first));
    options.command = first;
    const bool takesFolder = first == QLatin1String("install") ||
                             first == QLatin1String("station") || first == QLatin1String("check");
    const bool writes = first == QLatin1String("install") || first == QLatin1String("station");
    bool optionsEnded = false; // after "--", a folder may begin with '-'
    for (int i = 1; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded) {
            if (!takesFolder || !options.folder.isNull())
                return exitCode = usageError(
                           QStringLiteral("'%1' is one argument too many for %2.").arg(arg, first),
                           first);
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
            return answer(first == QLatin1String("list")      ? kListHelp
                          : first == QLatin1String("check")   ? kCheckHelp
                          : first == QLatin1String("install") ? kInstallHelp
                          : first == QLatin1String("station") ? kStationHelp
                                                              : kLanguageHelp);
        if (name == QLatin1String("--version"))
            return answer(version.constData());
        if (name == QLatin1String("--json") && first != QLatin1String("language") && !inlineValue) {
            options.json = true;
        } else if (name == QLatin1String("--yes") && first == QLatin1String("install") &&
                   !inlineValue) {
            options.yes = true;
        } else if (name == QLatin1String("--wait") && first == QLatin1String("install")) {
            QString text;
            if (!takeValue(text) || !parseCount(text, options.waitSeconds))
                return exitCode = usageError(
                           QStringLiteral("--wait needs a number of seconds (0 or more)."), first);
        } else if (name == QLatin1String("--report") && writes) {
            if (!takeValue(options.report) || options.report.isEmpty())
                return exitCode = usageError(QStringLiteral("--report needs a FILE."), first);
        } else if (name == QLatin1String("--max") && first == QLatin1String("station")) {
            QString text;
            if (!takeValue(text) || !parseCount(text, options.max) || options.max == 0)
                return exitCode = usageError(
                           QStringLiteral("--max needs a number of calculators (1 or more)."),
                           first);
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            return exitCode = usageError(
                       QStringLiteral("'%1' is not an option of %2.").arg(name, first), first);
        } else if (takesFolder && options.folder.isNull()) {
            options.folder = arg;
        } else {
            return exitCode = usageError(
                       QStringLiteral("'%1' is one argument too many for %2.").arg(arg, first),
                       first);
        }
    }
    if (takesFolder && options.folder.isEmpty())
        return exitCode =
                   usageError(QStringLiteral("%1 needs the firmware FOLDER.").arg(first), first);
    return exitCode = kExitOk;
}

bool Cli::prepare(const Options& options, Reporter& reporter, Session& session, int& exitCode) {
    const FirmwareScan scan = scanFirmwareFiles(options.folder);
    if (scan.files.isEmpty()) {
        exitCode = failure(kExitNoFirmware, problemText(scan.problem));
        return false;
    }
    // Said at once, before any calculator is looked for: a day at a station
    // must not turn out unrecorded.
    if (!options.report.isEmpty()) {
        const QString why = session.report.open(options.report);
        if (!why.isEmpty()) {
            exitCode = failure(kExitUsage, QStringLiteral("the report %1 cannot be written: %2.")
                                               .arg(QDir::toNativeSeparators(options.report), why));
            return false;
        }
        report_ = &session.report;
        reportPath_ = options.report;
    }
    session.files = runFilesOf(scan.files);
    session.folder = scan.folder;
    session.manifest = scan.manifestChecked;
    QList<SetImage> images;
    for (const RunFile& file : session.files)
        images.append({qStringFromUtf16(file.name), file.diskOffset, file.size,
                       QString::fromStdString(Sha256::hex(file.sha256))});
    reporter.set(session.folder, session.manifest, images);
    return true;
}

int Cli::check(const Options& options) {
    Reporter reporter(options.json ? OutputMode::Json : OutputMode::Plain, out_, err_);
    Session session;
    int exitCode = kExitOk;
    if (!prepare(options, reporter, session, exitCode))
        return exitCode;
    reporter.note(QStringLiteral("The set can be installed."));
    return kExitOk;
}

int Cli::list(const Options& options) {
    Reporter reporter(options.json ? OutputMode::Json : OutputMode::Plain, out_, err_);
    const std::vector<FoundCalculator> found = findCalculators();
    for (const FoundCalculator& calculator : found) {
        const QString why = qStringFromUtf16(whyNotWritable(calculator));
        reporter.listed(nameOf(calculator.identity), qStringFromUtf16(calculator.path),
                        why.isEmpty(), why);
    }
    if (found.empty())
        return failure(kExitNoCalculator,
                       QStringLiteral("no calculator in update mode is connected."));
    return kExitOk;
}

int Cli::install(const Options& options) {
    Reporter reporter(outputMode(options), out_, err_, env_.terminalColumns);
    reporter_ = &reporter;
    Session session;
    int exitCode = kExitOk;
    if (!prepare(options, reporter, session, exitCode))
        return exitCode;
    const std::vector<RunFile>& files = session.files;

    // Up to --wait seconds for at least one calculator and at most 16, as the
    // dialog waits: a run never picks 16 of more. One scan with --wait 0.
    std::vector<FoundCalculator> found;
    QElapsedTimer waited;
    waited.start();
    bool toldWaiting = false;
    int toldTooMany = 0;
    for (;;) {
        found = findCalculators();
        const bool tooMany = found.size() > static_cast<std::size_t>(kMaxCalculators);
        if (!found.empty() && !tooMany)
            break;
        if (presses() > 0)
            return failure(kExitInterrupted,
                           QStringLiteral("interrupted while waiting for a calculator."));
        if (waited.elapsed() >= qint64(options.waitSeconds) * 1000)
            return failure(
                kExitNoCalculator,
                tooMany ? tooManyText(found.size()) + QStringLiteral(" Nothing was written.")
                        : QStringLiteral("no calculator in update mode appeared within %1 s.")
                              .arg(options.waitSeconds));
        if (tooMany && toldTooMany != static_cast<int>(found.size())) {
            toldTooMany = static_cast<int>(found.size());
            reporter.note(tooManyText(found.size()) +
                          QStringLiteral(" Nothing is written until then."));
        } else if (!toldWaiting && !tooMany) {
            reporter.note(QStringLiteral("Waiting up to %1 s for a calculator in update mode...")
                              .arg(options.waitSeconds));
            toldWaiting = true;
        }
        pause();
    }

    reporter.note(QStringLiteral("Calculators to update (%1):").arg(found.size()));
    for (const FoundCalculator& disk : found)
        reporter.note(
            QStringLiteral("  %1  %2").arg(nameOf(disk.identity), qStringFromUtf16(disk.path)));
    if (!options.yes && env_.stdinIsTerminal) {
        QTextStream& prompt = options.json ? err_ : out_;
        prompt << "Write these " << files.size() << " files to " << found.size()
               << (found.size() == 1 ? " calculator" : " calculators") << "? [y/N] ";
        prompt.flush();
        QString answer;
        const bool answered = env_.readLine && env_.readLine(answer);
        answer = answer.trimmed().toLower();
        if (!answered || (answer != QLatin1String("y") && answer != QLatin1String("yes")))
            return failure(kExitInterrupted, QStringLiteral("not confirmed: nothing was written."));
    }

    for (const FoundCalculator& disk : found)
        reporter.found(nameOf(disk.identity), qStringFromUtf16(disk.path));

    std::atomic<bool> stopNow{false};
    std::vector<std::unique_ptr<RunningSession>> sessions;
    for (const FoundCalculator& disk : found)
        sessions.push_back(
            std::make_unique<RunningSession>(disk.identity, session, reporter, stopNow));
    const auto allEnded = [&] {
        for (const auto& session : sessions)
            if (!session->ended())
                return false;
        return true;
    };
    int told = 0;
    while (!allEnded()) {
        told = tellInterrupt(reporter, told, sessions);
        if (presses() >= 2)
            stopNow.store(true);
        pause(allEnded);
    }

    // Calculators plugged in during the run were not written: say so.
    QSet<QString> known;
    for (const FoundCalculator& disk : found)
        known.insert(key(disk.identity));
    for (const FoundCalculator& disk : findCalculators()) {
        if (!known.contains(key(disk.identity)))
            reporter.leftAlone(nameOf(disk.identity), QStringLiteral("joined during this run"));
    }

    std::vector<SummaryRow> rows;
    QStringList incomplete;
    bool ok = true;
    for (const auto& session : sessions) {
        rows.push_back(session->row());
        ok = ok && rows.back().ok;
        if (session->stopped())
            incomplete << rows.back().calculator;
    }
    reporter.summary(ok, presses() > 0, rows);
    return runEnd(ok, rows, incomplete,
                  ok ? QStringLiteral("interrupted; every update begun was finished.")
                     : QStringLiteral("interrupted; the updates begun were finished, not every "
                                      "one of them well."));
}

int Cli::station(const Options& options) {
    Reporter reporter(outputMode(options), out_, err_, env_.terminalColumns);
    reporter_ = &reporter;
    Session session;
    int exitCode = kExitOk;
    if (!prepare(options, reporter, session, exitCode))
        return exitCode;
    reporter.note(QStringLiteral("Station: each calculator plugged in in update mode is updated "
                                 "(up to 16 at once). Ctrl-C to stop."));

    std::atomic<bool> stopNow{false};
    std::vector<std::unique_ptr<RunningSession>> running;
    std::vector<SummaryRow> rows;
    QStringList incomplete;
    QSet<QString> updated;      // every file and the finish command went out
    QSet<QString> stillPresent; // its session ended and it has not been unplugged since
    QSet<QString> announced;    // shown as already done while it stays plugged in
    int started = 0;
    int done = 0;
    int failed = 0;
    int told = 0;

    for (;;) {
        const bool taking = presses() == 0 && (options.max == 0 || started < options.max);
        told = tellInterrupt(reporter, told, running);
        if (presses() >= 2)
            stopNow.store(true);

        const std::vector<FoundCalculator> found = findCalculators();
        QSet<QString> present;
        for (const FoundCalculator& disk : found)
            present.insert(key(disk.identity));
        // A calculator unplugged since may come back as a new arrival.
        stillPresent.intersect(present);
        announced.intersect(present);

        for (auto it = running.begin(); it != running.end();) {
            if (!(*it)->ended()) {
                ++it;
                continue;
            }
            const SummaryRow row = (*it)->row();
            const QString ended = key((*it)->disk());
            rows.push_back(row);
            if ((*it)->stopped())
                incomplete << row.calculator;
            (row.ok ? done : failed) += 1;
            // Only a serial number says that a calculator seen again is this
            // one: one without is updated each time it is plugged in.
            if (row.ok && (*it)->disk().hasSerial())
                updated.insert(ended);
            if (present.contains(ended))
                stillPresent.insert(ended);
            it = running.erase(it);
            reporter.counts(done, failed);
            giveBackFreeMemory();
        }

        for (const FoundCalculator& disk : found) {
            const QString id = key(disk.identity);
            bool busy = stillPresent.contains(id);
            for (const auto& session : running)
                busy = busy || key(session->disk()) == id;
            if (busy)
                continue;
            if (updated.contains(id)) {
                if (!announced.contains(id)) {
                    announced.insert(id);
                    reporter.leftAlone(nameOf(disk.identity), QStringLiteral("already done"));
                }
                continue;
            }
            if (!taking || running.size() >= static_cast<std::size_t>(kMaxCalculators) ||
                (options.max > 0 && started >= options.max))
                continue;
            reporter.found(nameOf(disk.identity), qStringFromUtf16(disk.path));
            if (!disk.identity.hasSerial())
                reporter.note(QStringLiteral("The calculator at %1 has no serial number: it is "
                                             "updated each time it is plugged in.")
                                  .arg(qStringFromUtf16(describeDisk(disk.identity))));
            running.push_back(
                std::make_unique<RunningSession>(disk.identity, session, reporter, stopNow));
            ++started;
        }
        if (running.empty() && (presses() > 0 || (options.max > 0 && started >= options.max)))
            break;
        const auto anyEnded = [&] {
            for (const auto& session : running)
                if (session->ended())
                    return true;
            return false;
        };
        pause(anyEnded);
    }

    bool ok = failed == 0;
    reporter.summary(ok, presses() > 0, rows);
    return runEnd(ok, rows, incomplete,
                  QStringLiteral("interrupted: %1 done, %2 failed.").arg(done).arg(failed));
}

int Cli::run(const QStringList& args) {
    Options options;
    bool done = false;
    int exitCode = kExitOk;
    parse(args, options, done, exitCode);
    out_.flush();
    if (done || exitCode != kExitOk)
        return exitCode;
    if (options.command == QLatin1String("language")) {
        out_ << systemLanguage() << '\n';
        out_.flush();
        return kExitOk;
    }
    if (options.command == QLatin1String("list"))
        return list(options);
    if (options.command == QLatin1String("check"))
        return check(options);
    if (options.command == QLatin1String("install"))
        return install(options);
    return station(options);
}

int runVelaUpdate(const QStringList& args, const CliEnvironment& env) {
    Cli cli(env);
    return cli.run(args);
}
