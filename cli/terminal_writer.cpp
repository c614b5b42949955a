// On a terminal: a block of one line per running calculator, redrawn in
// place and cut to the terminal's width; what is over is printed above it
// for good.
#include "cli/report_writers.h"

#include "cli/wrapping.h"

#include <QElapsedTimer>
#include <QMap>

namespace {

QString speedText(std::uint64_t bytes, qint64 ms) {
    if (ms <= 0 || bytes == 0)
        return QString();
    const double perSecond = static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms);
    return QStringLiteral("  %1 MB/s").arg(perSecond / 1e6, 0, 'f', 1);
}

class TerminalWriter : public ReportWriter {
public:
    explicit TerminalWriter(Output& output) : output_(output) {}

    void set(const QString& folder, bool manifestChecked, const QList<SetImage>& images) override {
        output_.out(wrapText(report_text::set(folder, manifestChecked, images), output_.columns()));
    }
    void found(const QString& calculator, const QString&) override {
        line(calculator).state = QStringLiteral("found");
        redraw();
    }
    void listed(const QString& calculator, const QString& path, bool writable,
                const QString& why) override {
        output_.out(report_text::listed(calculator, path, writable, why));
    }
    void leftAlone(const QString& calculator, const QString& reason) override {
        printAbove(Reporter::shown(calculator) + QStringLiteral("  left alone: ") + reason +
                   QLatin1Char('\n'));
    }
    void file(const QString& calculator, const QString& name, int index, int count, std::uint64_t,
              std::uint64_t size) override {
        Line& entry = line(calculator);
        entry.file = name;
        entry.index = index;
        entry.count = count;
        entry.size = size;
        entry.percent = 0;
        entry.state = QStringLiteral("writing");
        entry.fileClock.start();
        redraw();
    }
    void progress(const QString& calculator, int percent) override {
        line(calculator).percent = percent;
        redraw();
    }
    void retry(const QString& calculator, int code, int attempt) override {
        Line& entry = line(calculator);
        entry.retries = attempt;
        entry.state = QStringLiteral("failed (%1), retrying").arg(code);
        redraw();
    }
    void fileDone(const QString& calculator, int code, const QString&, const QString&) override {
        line(calculator).state =
            code == 0 ? QStringLiteral("written") : report_text::result(false, code);
        redraw();
    }
    void ended(const QString& calculator, bool updated, int result, const QString& next,
               bool bell) override {
        // The calculator's line leaves the block: it is over.
        lines_.remove(calculator);
        order_.removeAll(calculator);
        printAbove(wrapText(Reporter::shown(calculator) + QStringLiteral("  ") + QChar(kHangHere) +
                                report_text::ended(updated, result, Reporter::shown(next)),
                            output_.columns()) +
                   (bell ? QStringLiteral("\a\n") : QStringLiteral("\n")));
    }
    void idle(bool waiting) override {
        idle_ = waiting;
        redraw();
    }
    void waiting(const QString& calculator, bool back, int seconds, const QString& next) override {
        line(calculator).state =
            back ? QStringLiteral("connected again") : QStringLiteral("disconnected, waiting");
        printAbove(wrapText(back ? report_text::connectedAgain(calculator)
                                 : report_text::disconnected(calculator, seconds, next),
                            output_.columns()) +
                   QLatin1Char('\n'));
    }
    void counts(int updated, int failed) override {
        countsText_ = report_text::counts(updated, failed);
        redraw();
    }
    void summary(bool, const std::vector<SummaryRow>& rows, const QString& closing) override {
        QString text = report_text::summary(rows, closing, output_.columns());
        if (drawn_ > 0) {
            text.prepend(QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawn_));
            drawn_ = 0;
        }
        output_.out(text);
    }
    void note(const QString& text) override {
        printAbove(wrapText(text, output_.columns()) + QLatin1Char('\n'));
    }

private:
    struct Line {
        QString file;
        int index = 0;
        int count = 0;
        std::uint64_t size = 0;
        int percent = 0;
        int retries = 0;
        QString state; // "writing", "failed (112), retrying", ...
        QElapsedTimer fileClock;
    };

    Line& line(const QString& calculator) {
        if (!lines_.contains(calculator))
            order_.append(calculator);
        return lines_[calculator];
    }

    // A line of the block no wider than the terminal: one that reached the
    // last column would wrap, and the block would scroll at every redraw.
    QString cut(const QString& text) const {
        const int columns = output_.columns();
        if (columns <= 1 || text.size() < columns)
            return text;
        return text.left(columns - 2) + QChar(0x2026);
    }

    QString describe(const QString& calculator, const Line& line) const {
        QString text = Reporter::shown(calculator) + QStringLiteral("  ");
        if (!line.file.isEmpty())
            text += QStringLiteral("%1/%2 %3 %4%")
                        .arg(line.index)
                        .arg(line.count)
                        .arg(Reporter::shown(line.file))
                        .arg(line.percent, 3);
        if (line.retries > 0)
            text += QStringLiteral("  retries %1").arg(line.retries);
        if (line.state == QLatin1String("writing")) {
            const auto written = line.size * static_cast<std::uint64_t>(line.percent) / 100;
            text += speedText(written, line.fileClock.isValid() ? line.fileClock.elapsed() : 0);
        } else if (!line.state.isEmpty()) {
            text += QStringLiteral("  ") + line.state;
        }
        return cut(text);
    }

    // Back to the first line drawn, then every line again, each cleared first.
    void redraw() {
        QString text;
        if (drawn_ > 0)
            text += QStringLiteral("\r\x1b[%1A").arg(drawn_);
        int count = 0;
        for (const QString& calculator : order_) {
            text += QStringLiteral("\r\x1b[2K") + describe(calculator, lines_[calculator]) +
                    QLatin1Char('\n');
            ++count;
        }
        if (!countsText_.isEmpty()) {
            text += QStringLiteral("\r\x1b[2K") + cut(countsText_) + QLatin1Char('\n');
            ++count;
        }
        if (idle_) {
            text += QStringLiteral("\r\x1b[2K") + cut(report_text::idle()) + QLatin1Char('\n');
            ++count;
        }
        // A block that got shorter leaves lines below it: cleared.
        if (count < drawn_)
            text += QStringLiteral("\x1b[J");
        drawn_ = count;
        output_.out(text);
    }

    // Text printed for good above the block, then the block again.
    void printAbove(const QString& text) {
        QString out;
        if (drawn_ > 0)
            out += QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawn_);
        drawn_ = 0;
        output_.out(out + text);
        redraw();
    }

    Output& output_;
    QStringList order_; // running calculators, as first seen
    QMap<QString, Line> lines_;
    int drawn_ = 0; // lines drawn by the last redraw
    QString countsText_;
    bool idle_ = false; // a station waits for the next calculator
};

} // namespace

std::unique_ptr<ReportWriter> terminalWriter(Output& output) {
    return std::make_unique<TerminalWriter>(output);
}
