// What vela-update tells while it updates: JSON lines, plain lines, or on a
// terminal one line per calculator redrawn in place. Called from every
// session's threads; one lock keeps lines whole.
#pragma once

#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

enum class OutputMode { Json, Plain, Terminal };

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
};

class Reporter {
public:
    Reporter(OutputMode mode, QTextStream& out, QTextStream& err);

    [[nodiscard]] OutputMode mode() const { return mode_; }
    // A write to the output failed (a closed pipe, a full disk): the run is
    // to stop taking calculators, as after a first Ctrl-C.
    [[nodiscard]] bool outputFailed() const { return outputFailed_.load(); }

    void found(const QString& calculator, const QString& path);
    // list: a calculator present now, and whether it can be opened for writing.
    void listed(const QString& calculator, const QString& path, bool writable, const QString& why);
    void leftAlone(const QString& calculator, const QString& reason);
    void file(const QString& calculator, const QString& name, std::uint64_t offset,
              std::uint64_t size);
    void progress(const QString& calculator, int percent);
    void retry(const QString& calculator, int code, int attempt);
    void fileDone(const QString& calculator, int code, const QString& cause);
    void finish(const QString& calculator, bool ok, const QString& cause);
    // Done / failed so far, for station mode; plain and terminal output only.
    void counts(int done, int failed);
    void summary(bool ok, const std::vector<SummaryRow>& rows);
    // A sentence for the person at the terminal: stdout, or stderr under --json.
    void note(const QString& text);
    // The firmware set about to be written: the `set` event, or the plan.
    void set(const QString& folder, bool manifestChecked, const QList<SetImage>& images);

    // JSON pieces for whoever writes JSON of their own (the report file): a
    // string literal that strict parsers take, and "field":"name" with its
    // exact bytes beside it when the name is not text.
    [[nodiscard]] static QString jsonString(const QString& text);
    [[nodiscard]] static QString nameField(const QString& field, const QString& name);

private:
    struct Line {
        QString file;
        std::uint64_t size = 0;
        int percent = 0;
        int retries = 0;
        QString state; // "writing", "done", "failed (112)", ...
        QElapsedTimer fileClock;
        int lastPlainDecade = -1;
    };
    void emitJson(const QString& event, const QString& calculator,
                  const QList<QPair<QString, QString>>& fields);
    [[nodiscard]] static QPair<QString, QString> pathField(const QString& path);
    void write(QTextStream& stream, const QString& text);
    void plain(const QString& calculator, const QString& text);
    Line& line(const QString& calculator);
    void redraw(); // terminal: every calculator's line again, in place
    [[nodiscard]] QString describe(const QString& calculator, const Line& line) const;

    std::mutex lock_;
    OutputMode mode_;
    QTextStream& out_;
    QTextStream& err_;
    QStringList order_; // calculators as first seen
    QMap<QString, Line> lines_;
    int drawn_ = 0; // lines drawn by the last redraw
    QString countsText_;
    std::atomic<bool> outputFailed_{false};
};
