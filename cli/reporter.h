// What vela-update tells while it updates: JSON lines, plain lines, or on a
// terminal a block of one line per running calculator, redrawn in place, with
// each calculator's outcome printed above it once its run has ended (the
// three writers of cli/report_writers.h). Called from every run's threads;
// one lock keeps lines whole.
#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

enum class OutputMode { Json, Plain, Terminal };

class Output;
class ReportWriter;

// One image of the set, as it was checked.
struct SetImage {
    QString name;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    QString sha256; // hexadecimal
};

// One calculator's line in the summary.
struct SummaryRow {
    QString calculator;
    bool ok = false;
    int result = 0;
    int files = 0;
    double seconds = 0;
    QString cause;      // why it failed; empty when ok
    QString next;       // what to do about it (session/advice.h); empty when ok
    QString unrecorded; // why its line is not in the report; empty when it is
};

class Reporter {
public:
    // columns: the width its sentences are wrapped to (cli/wrapping.h), and
    // on a terminal the width of its block; 0: none.
    Reporter(OutputMode mode, QTextStream& out, QTextStream& err, int columns = 0);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // A write to the output failed (a closed pipe, a full disk): the run is
    // to stop taking calculators, as after a first Ctrl-C.
    [[nodiscard]] bool outputFailed() const;

    // The firmware set as it was checked: the `set` event, or its lines.
    void set(const QString& folder, bool manifestChecked, const QList<SetImage>& images);
    // install: the calculators it is about to write, each with its path.
    void plan(const QList<QPair<QString, QString>>& calculators);
    void found(const QString& calculator, const QString& path);
    // list: a calculator present now, and whether it can be opened for writing.
    void listed(const QString& calculator, const QString& path, bool writable, const QString& why);
    void leftAlone(const QString& calculator, const QString& reason);
    // index counts from 1, of count files.
    void file(const QString& calculator, const QString& name, int index, int count,
              std::uint64_t offset, std::uint64_t size);
    void progress(const QString& calculator, int percent);
    void retry(const QString& calculator, int code, int attempt);
    // cause: the calculator's own, without its name; next: what to do about
    // it (session/advice.h), in English.
    void fileDone(const QString& calculator, int code, const QString& cause, const QString& next);
    // The finish command went out (sent), or not: why not, and what to do next.
    void finish(const QString& calculator, bool sent, const QString& cause, const QString& next);
    // The calculator's run is over: updated, or its result and what to do next.
    void ended(const QString& calculator, bool updated, int result, const QString& next);
    // Rings the terminal's bell at the end of each calculator's run.
    void setBell(bool ring) { bell_ = ring; }
    // A station waits for the next calculator (or no longer does).
    void idle(bool waiting);
    // A calculator of the run was unplugged: it is waited for up to `seconds`
    // (back false), or it came back (back true) and the update goes on.
    void waiting(const QString& calculator, bool back, int seconds, const QString& next);
    // Updated / failed so far, for station mode; plain and terminal output only.
    void counts(int updated, int failed);
    // What a Ctrl-C (the first, or the second) does now.
    void interrupted(int presses, int running);
    // The run's end: one row per calculator (none: no table at all), then the
    // closing sentence; empty after an interruption, whose words are the
    // caller's, on stderr.
    void summary(bool ok, const std::vector<SummaryRow>& rows, const QString& closing);
    // A sentence for the person at the terminal: stdout, or stderr under --json.
    void note(const QString& text);

    // JSON pieces for whoever writes JSON of their own (the report file): a
    // string literal that strict parsers take, and "field":"name" with its
    // exact bytes beside it when the name is not text.
    [[nodiscard]] static QString jsonString(const QString& text);
    [[nodiscard]] static QString nameField(const QString& field, const QString& name);
    // The text as a terminal may show it: no control character reaches it,
    // and bytes that are not text are shown as \xNN.
    [[nodiscard]] static QString shown(const QString& text);

private:
    std::mutex lock_;
    bool bell_ = false;
    std::unique_ptr<Output> output_;
    std::unique_ptr<ReportWriter> writer_; // of the mode, chosen once
};
