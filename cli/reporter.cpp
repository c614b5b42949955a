#include "cli/reporter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

QString jsonString(const QString& text) {
    // A JSON string literal: a document of one array, cut out again.
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString speedText(std::uint64_t bytes, qint64 ms) {
    if (ms <= 0 || bytes == 0)
        return QString();
    const double perSecond = static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms);
    return QStringLiteral(" %1 MB/s").arg(perSecond / 1e6, 0, 'f', 1);
}

} // namespace

Reporter::Reporter(OutputMode mode, QTextStream& out, QTextStream& err)
    : mode_(mode), out_(out), err_(err) {}

void Reporter::emitJson(const QString& event, const QString& calculator,
                        const QList<QPair<QString, QString>>& fields) {
    QString text = QStringLiteral("{\"event\":") + jsonString(event);
    if (!calculator.isNull())
        text += QStringLiteral(",\"calculator\":") + jsonString(calculator);
    for (const auto& field : fields)
        text += QLatin1Char(',') + jsonString(field.first) + QLatin1Char(':') + field.second;
    text += QLatin1Char('}');
    out_ << text << '\n';
    out_.flush();
}

Reporter::Line& Reporter::line(const QString& calculator) {
    if (!lines_.contains(calculator))
        order_.append(calculator);
    return lines_[calculator];
}

void Reporter::plain(const QString& calculator, const QString& text) {
    out_ << calculator << ": " << text << '\n';
    out_.flush();
}

QString Reporter::describe(const QString& calculator, const Line& line) const {
    QString text = calculator + QStringLiteral("  ");
    if (!line.file.isEmpty())
        text += line.file + QStringLiteral(" %1%").arg(line.percent, 3);
    if (line.retries > 0)
        text += QStringLiteral("  retries %1").arg(line.retries);
    if (line.state == QLatin1String("writing")) {
        const auto written = line.size * static_cast<std::uint64_t>(line.percent) / 100;
        text += speedText(written, line.fileClock.isValid() ? line.fileClock.elapsed() : 0);
    } else if (!line.state.isEmpty()) {
        text += QStringLiteral("  ") + line.state;
    }
    return text;
}

void Reporter::redraw() {
    // Back to the first line drawn, then every line again, each cleared first.
    if (drawn_ > 0)
        out_ << "\r\x1b[" << drawn_ << 'A';
    int count = 0;
    for (const QString& calculator : order_) {
        out_ << "\r\x1b[2K" << describe(calculator, lines_[calculator]) << '\n';
        ++count;
    }
    if (!countsText_.isEmpty()) {
        out_ << "\r\x1b[2K" << countsText_ << '\n';
        ++count;
    }
    drawn_ = count;
    out_.flush();
}

void Reporter::found(const QString& calculator, const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("found"), calculator, {{QStringLiteral("path"), jsonString(path)}});
        break;
    case OutputMode::Plain:
        plain(calculator, QStringLiteral("found at ") + path);
        break;
    case OutputMode::Terminal:
        line(calculator).state = QStringLiteral("found");
        redraw();
        break;
    }
}

void Reporter::listed(const QString& calculator, const QString& path, bool writable,
                      const QString& why) {
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == OutputMode::Json) {
        QList<QPair<QString, QString>> fields{
            {QStringLiteral("path"), jsonString(path)},
            {QStringLiteral("writable"),
             writable ? QStringLiteral("true") : QStringLiteral("false")}};
        if (!writable)
            fields.append({QStringLiteral("problem"), jsonString(why)});
        emitJson(QStringLiteral("found"), calculator, fields);
        return;
    }
    out_ << calculator << "  " << path << "  "
         << (writable ? QStringLiteral("can be written")
                      : QStringLiteral("cannot be opened for writing: ") + why)
         << '\n';
    out_.flush();
}

void Reporter::leftAlone(const QString& calculator, const QString& reason) {
    std::lock_guard<std::mutex> hold(lock_);
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("left_alone"), calculator,
                 {{QStringLiteral("reason"), jsonString(reason)}});
        break;
    case OutputMode::Plain:
        plain(calculator, QStringLiteral("left alone: ") + reason);
        break;
    case OutputMode::Terminal: {
        Line& entry = line(calculator);
        entry.file.clear();
        entry.state = QStringLiteral("left alone: ") + reason;
        redraw();
        break;
    }
    }
}

void Reporter::file(const QString& calculator, const QString& name, std::uint64_t offset,
                    std::uint64_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    Line& entry = line(calculator);
    entry.file = name;
    entry.size = size;
    entry.percent = 0;
    entry.state = QStringLiteral("writing");
    entry.fileClock.start();
    entry.lastPlainDecade = -1;
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("file"), calculator,
                 {{QStringLiteral("name"), jsonString(name)},
                  {QStringLiteral("offset"), QString::number(offset)},
                  {QStringLiteral("size"), QString::number(size)}});
        break;
    case OutputMode::Plain:
        plain(
            calculator,
            QStringLiteral("writing %1 (%2 bytes at 0x%3)").arg(name).arg(size).arg(offset, 0, 16));
        break;
    case OutputMode::Terminal:
        redraw();
        break;
    }
}

void Reporter::progress(const QString& calculator, int percent) {
    std::lock_guard<std::mutex> hold(lock_);
    Line& entry = line(calculator);
    entry.percent = percent;
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("progress"), calculator,
                 {{QStringLiteral("percent"), QString::number(percent)}});
        break;
    case OutputMode::Plain:
        // A line per tenth: a plain log stays readable.
        if (percent / 10 != entry.lastPlainDecade) {
            entry.lastPlainDecade = percent / 10;
            plain(calculator, QStringLiteral("%1 %2%").arg(entry.file).arg(percent));
        }
        break;
    case OutputMode::Terminal:
        redraw();
        break;
    }
}

void Reporter::retry(const QString& calculator, int code, int attempt) {
    std::lock_guard<std::mutex> hold(lock_);
    Line& entry = line(calculator);
    entry.retries = attempt;
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("retry"), calculator,
                 {{QStringLiteral("code"), QString::number(code)},
                  {QStringLiteral("attempt"), QString::number(attempt)}});
        break;
    case OutputMode::Plain:
        plain(calculator, QStringLiteral("retry %1 of 5 after %2").arg(attempt).arg(code));
        break;
    case OutputMode::Terminal:
        entry.state = QStringLiteral("failed (%1), retrying").arg(code);
        redraw();
        break;
    }
}

void Reporter::fileDone(const QString& calculator, int code, const QString& cause) {
    std::lock_guard<std::mutex> hold(lock_);
    Line& entry = line(calculator);
    switch (mode_) {
    case OutputMode::Json: {
        QList<QPair<QString, QString>> fields{{QStringLiteral("code"), QString::number(code)}};
        if (code != 0)
            fields.append({QStringLiteral("cause"), jsonString(cause)});
        emitJson(QStringLiteral("file_done"), calculator, fields);
        break;
    }
    case OutputMode::Plain:
        plain(calculator,
              code == 0
                  ? QStringLiteral("%1 written").arg(entry.file)
                  : QStringLiteral("%1 failed (%2): %3").arg(entry.file).arg(code).arg(cause));
        break;
    case OutputMode::Terminal:
        entry.state =
            code == 0 ? QStringLiteral("written") : QStringLiteral("failed (%1)").arg(code);
        redraw();
        break;
    }
}

void Reporter::finish(const QString& calculator, bool ok, const QString& cause) {
    std::lock_guard<std::mutex> hold(lock_);
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("finish"), calculator,
                 {{QStringLiteral("ok"), ok ? QStringLiteral("true") : QStringLiteral("false")}});
        break;
    case OutputMode::Plain:
        plain(calculator, ok ? QStringLiteral("finish command sent")
                             : QStringLiteral("the finish command could not be sent: ") + cause);
        break;
    case OutputMode::Terminal: {
        Line& entry = line(calculator);
        if (!ok)
            entry.state = QStringLiteral("finish command not sent");
        else if (!entry.state.startsWith(QLatin1String("failed")))
            entry.state = QStringLiteral("finished");
        redraw();
        break;
    }
    }
}

void Reporter::counts(int done, int failed) {
    std::lock_guard<std::mutex> hold(lock_);
    const QString text = QStringLiteral("done %1, failed %2").arg(done).arg(failed);
    if (mode_ == OutputMode::Plain) {
        out_ << text << '\n';
        out_.flush();
    } else if (mode_ == OutputMode::Terminal) {
        countsText_ = text;
        redraw();
    }
}

void Reporter::summary(bool ok, const std::vector<SummaryRow>& rows) {
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == OutputMode::Json) {
        QJsonArray calculators;
        for (const SummaryRow& row : rows) {
            calculators.append(QJsonObject{{QStringLiteral("calculator"), row.calculator},
                                           {QStringLiteral("ok"), row.ok},
                                           {QStringLiteral("result"), row.result},
                                           {QStringLiteral("files"), row.files}});
        }
        emitJson(QStringLiteral("summary"), QString(),
                 {{QStringLiteral("ok"), ok ? QStringLiteral("true") : QStringLiteral("false")},
                  {QStringLiteral("calculators"),
                   QString::fromUtf8(QJsonDocument(calculators).toJson(QJsonDocument::Compact))}});
        return;
    }
    int width = 10;
    for (const SummaryRow& row : rows)
        width = std::max(width, row.calculator.size());
    out_ << '\n' << QStringLiteral("Calculator").leftJustified(width + 2) << "Result        Time\n";
    for (const SummaryRow& row : rows) {
        const QString result =
            row.ok ? QStringLiteral("ok") : QStringLiteral("failed (%1)").arg(row.result);
        out_ << row.calculator.leftJustified(width + 2) << result.leftJustified(14)
             << QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1) << '\n';
    }
    out_ << (ok ? "Every calculator was updated.\n" : "Not every calculator was updated.\n");
    out_.flush();
}

void Reporter::note(const QString& text) {
    std::lock_guard<std::mutex> hold(lock_);
    QTextStream& stream = mode_ == OutputMode::Json ? err_ : out_;
    stream << text << '\n';
    stream.flush();
    // A line printed below the redrawn block moves it: draw it anew below.
    if (mode_ == OutputMode::Terminal)
        drawn_ = 0;
}
