// How vela-update's reports look: one writer per output mode behind one
// interface, chosen once by Reporter (cli/reporter.h), which holds the lock
// every call comes under. Private to cli/.
#pragma once

#include "cli/reporter.h"

#include <QTextStream>

#include <atomic>
#include <memory>

// Where a writer's text goes, and whether it got there.
class Output {
public:
    Output(QTextStream& out, QTextStream& err, int columns)
        : out_(out), err_(err), columns_(columns) {}

    void out(const QString& text) { write(out_, text); }
    void err(const QString& text) { write(err_, text); }
    [[nodiscard]] int columns() const { return columns_; }
    [[nodiscard]] bool failed() const { return failed_.load(); }

private:
    void write(QTextStream& stream, const QString& text);

    QTextStream& out_;
    QTextStream& err_;
    int columns_;
    std::atomic<bool> failed_{false};
};

// Every report, as one mode writes it. Names come as they are (anybody's
// bytes): each writer shows them its own way.
class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    virtual void set(const QString& folder, bool manifestChecked,
                     const QList<SetImage>& images) = 0;
    virtual void found(const QString& calculator, const QString& path) = 0;
    virtual void listed(const QString& calculator, const QString& path, bool writable,
                        const QString& why) = 0;
    virtual void leftAlone(const QString& calculator, const QString& reason) = 0;
    virtual void file(const QString& calculator, const QString& name, int index, int count,
                      std::uint64_t offset, std::uint64_t size) = 0;
    virtual void progress(const QString& calculator, int percent) = 0;
    virtual void retry(const QString& calculator, int code, int attempt) = 0;
    virtual void fileDone(const QString& calculator, int code, const QString& cause,
                          const QString& next) = 0;
    // The finish command is the JSON's business: the others tell the end.
    virtual void finish(const QString&, bool, const QString&, const QString&) {}
    virtual void ended(const QString& calculator, bool updated, int result, const QString& next,
                       bool bell) = 0;
    virtual void idle(bool waiting) = 0;
    virtual void waiting(const QString& calculator, bool back, int seconds,
                         const QString& next) = 0;
    virtual void counts(int updated, int failed) = 0;
    virtual void summary(bool ok, const std::vector<SummaryRow>& rows, const QString& closing) = 0;
    // Already shown as a terminal may show it.
    virtual void note(const QString& text) = 0;
};

[[nodiscard]] std::unique_ptr<ReportWriter> jsonWriter(Output& output);
[[nodiscard]] std::unique_ptr<ReportWriter> plainWriter(Output& output);
[[nodiscard]] std::unique_ptr<ReportWriter> terminalWriter(Output& output);

// The pieces of text the plain and the terminal writers share.
namespace report_text {
// "00000000 was disconnected: connect it again in update mode (waiting up to 30 s)."
[[nodiscard]] QString disconnected(const QString& calculator, int seconds, const QString& next);
// "00000000 is connected again: the update goes on."
[[nodiscard]] QString connectedAgain(const QString& calculator);
// "ok", "stopped", "failed (112)", or "not recorded".
[[nodiscard]] QString result(bool ok, int code, bool recorded = true);
// The set as it was checked, and its images.
[[nodiscard]] QString set(const QString& folder, bool manifestChecked,
                          const QList<SetImage>& images);
[[nodiscard]] QString listed(const QString& calculator, const QString& path, bool writable,
                             const QString& why);
// The summary's table, causes and closing sentence; its sentences wrapped.
[[nodiscard]] QString summary(const std::vector<SummaryRow>& rows, const QString& closing,
                              int columns);
// How a calculator's run ended: "updated: unplug it now", or its result and
// what to do next.
[[nodiscard]] QString ended(bool updated, int result, const QString& next);
// The words while a station has nothing to do.
[[nodiscard]] QString idle();
[[nodiscard]] QString counts(int updated, int failed);
} // namespace report_text
