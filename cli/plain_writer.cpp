// Without a terminal: one line per event, named by its calculator, progress
// once per tenth, so that a log stays readable.
#include "cli/report_writers.h"

#include "cli/wrapping.h"

#include <QMap>

namespace {

class PlainWriter : public ReportWriter {
public:
    explicit PlainWriter(Output& output) : output_(output) {}

    void set(const QString& folder, bool manifestChecked, const QList<SetImage>& images) override {
        output_.out(wrapText(report_text::set(folder, manifestChecked, images), output_.columns()));
    }
    void found(const QString& calculator, const QString& path) override {
        line(calculator, QStringLiteral("found at ") + Reporter::shown(path));
    }
    void listed(const QString& calculator, const QString& path, bool writable,
                const QString& why) override {
        output_.out(report_text::listed(calculator, path, writable, why));
    }
    void leftAlone(const QString& calculator, const QString& reason) override {
        line(calculator, QStringLiteral("left alone: ") + reason);
    }
    void file(const QString& calculator, const QString& name, int index, int count,
              std::uint64_t offset, std::uint64_t size) override {
        files_[calculator] = {name, index, count, -1};
        line(calculator, QStringLiteral("writing %1/%2 %3 (%4 bytes at 0x%5)")
                             .arg(index)
                             .arg(count)
                             .arg(Reporter::shown(name))
                             .arg(size)
                             .arg(offset, 0, 16));
    }
    void progress(const QString& calculator, int percent) override {
        File& file = files_[calculator];
        if (percent / 10 == file.lastDecade)
            return;
        file.lastDecade = percent / 10;
        line(calculator, QStringLiteral("%1/%2 %3 %4%")
                             .arg(file.index)
                             .arg(file.count)
                             .arg(Reporter::shown(file.name))
                             .arg(percent));
    }
    void retry(const QString& calculator, int code, int attempt) override {
        line(calculator, QStringLiteral("retry %1 of 5 after %2").arg(attempt).arg(code));
    }
    void fileDone(const QString& calculator, int code, const QString& cause,
                  const QString&) override {
        const QString name = files_.value(calculator).name;
        if (code == 0)
            line(calculator, QStringLiteral("%1 written").arg(Reporter::shown(name)));
        else if (cause.startsWith(name + QLatin1Char(' '))) // the cause names the file
            line(calculator,
                 report_text::result(false, code) + QStringLiteral(": ") + Reporter::shown(cause));
        else
            line(calculator, QStringLiteral("%1 %2: %3")
                                 .arg(Reporter::shown(name), report_text::result(false, code),
                                      Reporter::shown(cause)));
    }
    void ended(const QString& calculator, bool updated, int result, const QString& next,
               bool bell) override {
        line(calculator, report_text::ended(updated, result, Reporter::shown(next)) +
                             (bell ? QStringLiteral("\a") : QString()));
        // Nothing more is told of it.
        files_.remove(calculator);
    }
    // Once each time the station has nothing left to do.
    void idle(bool waiting) override {
        if (waiting)
            output_.out(report_text::idle() + QLatin1Char('\n'));
    }
    void waiting(const QString& calculator, bool back, int seconds, const QString& next) override {
        output_.out((back ? report_text::connectedAgain(calculator)
                          : report_text::disconnected(calculator, seconds, next)) +
                    QLatin1Char('\n'));
    }
    void counts(int updated, int failed) override {
        output_.out(report_text::counts(updated, failed) + QLatin1Char('\n'));
    }
    void summary(bool, const std::vector<SummaryRow>& rows, const QString& closing) override {
        output_.out(report_text::summary(rows, closing, output_.columns()));
    }
    void note(const QString& text) override {
        output_.out(wrapText(text, output_.columns()) + QLatin1Char('\n'));
    }

private:
    // The file a calculator is at.
    struct File {
        QString name;
        int index = 0;
        int count = 0;
        int lastDecade = -1; // of its last progress line
    };

    void line(const QString& calculator, const QString& text) {
        output_.out(Reporter::shown(calculator) + QStringLiteral(": ") + text + QLatin1Char('\n'));
    }

    Output& output_;
    QMap<QString, File> files_;
};

} // namespace

std::unique_ptr<ReportWriter> plainWriter(Output& output) {
    return std::make_unique<PlainWriter>(output);
}
