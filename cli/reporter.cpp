#include "cli/reporter.h"

#include "base/utf16_text.h"
#include "device/calculators.h"

namespace {

bool isLoneSurrogate(const QString& text, int i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    if (c.isLowSurrogate())
        return i == 0 || !text.at(i - 1).isHighSurrogate();
    return false;
}

// Not every name is text: a serial or a device name may hold bytes that are
// not UTF-8, kept as lone surrogates (base/utf16_text.h).
bool holdsNonText(const QString& text) {
    for (int i = 0; i < text.size(); ++i) {
        if (isLoneSurrogate(text, i))
            return true;
    }
    return false;
}

// The bytes a name stands for, in hexadecimal.
QString hexBytes(const QString& text) {
    const std::string bytes = byteNameFromUtf16(text.toStdU16String());
    return QString::fromLatin1(QByteArray(bytes.data(), static_cast<int>(bytes.size())).toHex());
}

QString speedText(std::uint64_t bytes, qint64 ms) {
    if (ms <= 0 || bytes == 0)
        return QString();
    const double perSecond = static_cast<double>(bytes) * 1000.0 / static_cast<double>(ms);
    return QStringLiteral("  %1 MB/s").arg(perSecond / 1e6, 0, 'f', 1);
}

QString resultText(bool ok, int result, bool recorded = true) {
    if (ok)
        return QStringLiteral("ok");
    if (!recorded && result == 0)
        return QStringLiteral("not recorded");
    // Told to stop after a chunk: not a failure of the calculator's.
    if (result == kResultStopped)
        return QStringLiteral("stopped");
    return QStringLiteral("failed (%1)").arg(result);
}

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

// A JSON string literal that every strict parser takes (RFC 8259 text, valid
// UTF-8): what is not text becomes U+FFFD; the "_bytes" field beside a name
// keeps its exact bytes.
QString Reporter::jsonString(const QString& text) {
    static const char kHex[] = "0123456789abcdef";
    QString out = QStringLiteral("\"");
    for (int i = 0; i < text.size(); ++i) {
        const ushort c = text.at(i).unicode();
        if (c == '"' || c == '\\') {
            out += QLatin1Char('\\');
            out += QChar(c);
        } else if (c == '\n') {
            out += QStringLiteral("\\n");
        } else if (c < 0x20) {
            out += QStringLiteral("\\u00");
            out += QLatin1Char(kHex[c >> 4]);
            out += QLatin1Char(kHex[c & 0xF]);
        } else if (isLoneSurrogate(text, i)) {
            out += QChar(0xFFFD);
        } else {
            out += QChar(c);
        }
    }
    return out + QLatin1Char('"');
}

QString Reporter::shown(const QString& text) {
    const std::u16string escaped = escapedForDisplay(text.toStdU16String());
    return QString(reinterpret_cast<const QChar*>(escaped.data()),
                   static_cast<int>(escaped.size()));
}

QString Reporter::nameField(const QString& field, const QString& name) {
    QString text = jsonString(field) + QLatin1Char(':') + jsonString(name);
    if (holdsNonText(name))
        text += QLatin1Char(',') + jsonString(field + QStringLiteral("_bytes")) + QLatin1Char(':') +
                jsonString(hexBytes(name));
    return text;
}

Reporter::Reporter(OutputMode mode, QTextStream& out, QTextStream& err, int columns)
    : mode_(mode), out_(out), err_(err), columns_(columns) {}

void Reporter::write(QTextStream& stream, const QString& text) {
    stream << text;
    stream.flush();
    // A closed pipe or a full disk must not end the process in the middle of
    // a file; the caller hears of it and stops between calculators.
    if (stream.status() != QTextStream::Ok)
        outputFailed_.store(true);
}

void Reporter::emitJson(const QString& event, const QString& calculator, const Fields& fields) {
    QString text = QStringLiteral("{\"event\":") + jsonString(event);
    if (!calculator.isNull())
        text += QLatin1Char(',') + nameField(QStringLiteral("calculator"), calculator);
    for (const auto& field : fields) {
        // A field whose value is a name carries its exact bytes beside it.
        text += QLatin1Char(',') +
                (field.second.isNull() ? field.first
                                       : jsonString(field.first) + QLatin1Char(':') + field.second);
    }
    write(out_, text + QStringLiteral("}\n"));
}

Reporter::Line& Reporter::line(const QString& calculator) {
    if (!lines_.contains(calculator))
        order_.append(calculator);
    return lines_[calculator];
}

void Reporter::plain(const QString& calculator, const QString& text) {
    write(out_, shown(calculator) + QStringLiteral(": ") + text + QLatin1Char('\n'));
}

// A line of the block no wider than the terminal: one that reached the last
// column would wrap, and the block would scroll at every redraw.
QString Reporter::cut(const QString& text) const {
    if (columns_ <= 1 || text.size() < columns_)
        return text;
    return text.left(columns_ - 2) + QChar(0x2026);
}

// A sentence printed on the terminal breaks between words, not inside one;
// each line keeps its indent, and so do the lines it breaks into.
QString Reporter::wrapped(const QString& text) const {
    if (mode_ != OutputMode::Terminal || columns_ <= 1)
        return text;
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        int indent = 0;
        while (indent < line.size() && line.at(indent) == QLatin1Char(' '))
            ++indent;
        const QString lead(indent, QLatin1Char(' '));
        QString current = lead;
        bool empty = true; // nothing after the indent yet
        for (const QString& word : line.mid(indent).split(QLatin1Char(' '))) {
            if (!empty && current.size() + 1 + word.size() >= columns_) {
                while (current.size() > indent && current.endsWith(QLatin1Char(' ')))
                    current.chop(1);
                lines << current;
                current = lead + word;
            } else {
                current += (empty ? QString() : QStringLiteral(" ")) + word;
            }
            empty = false;
        }
        lines << current;
    }
    return lines.join(QLatin1Char('\n'));
}

QString Reporter::describe(const QString& calculator, const Line& line) const {
    QString text = shown(calculator) + QStringLiteral("  ");
    if (!line.file.isEmpty())
        text += QStringLiteral("%1/%2 %3 %4%")
                    .arg(line.index)
                    .arg(line.count)
                    .arg(line.file)
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

void Reporter::redraw() {
    // Back to the first line drawn, then every line again, each cleared first.
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
    // A block that got shorter leaves lines below it: cleared.
    if (count < drawn_)
        text += QStringLiteral("\x1b[J");
    drawn_ = count;
    write(out_, text);
}

void Reporter::printAbove(const QString& text) {
    QString out;
    if (drawn_ > 0)
        out += QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawn_);
    drawn_ = 0;
    write(out_, out + text);
    redraw();
}

void Reporter::set(const QString& folder, bool manifestChecked, const QList<SetImage>& images) {
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == OutputMode::Json) {
        QStringList list;
        for (const SetImage& image : images)
            list << QStringLiteral("{%1,\"offset\":%2,\"size\":%3,\"sha256\":\"%4\"}")
                        .arg(nameField(QStringLiteral("name"), image.name))
                        .arg(image.offset)
                        .arg(image.size)
                        .arg(image.sha256);
        emitJson(QStringLiteral("set"), QString(),
                 {{nameField(QStringLiteral("folder"), folder), {}},
                  {QStringLiteral("manifest"), boolText(manifestChecked)},
                  {QStringLiteral("images"),
                   QLatin1Char('[') + list.join(QLatin1Char(',')) + QLatin1Char(']')}});
        return;
    }
    QString text =
        QStringLiteral("Firmware set in %1%2:\n")
            .arg(shown(folder),
                 manifestChecked ? QStringLiteral(" (checked against SHA256SUMS)") : QString());
    for (const SetImage& image : images)
        text += QStringLiteral("  %1  %2 bytes at 0x%3\n    sha256 %4\n")
                    .arg(shown(image.name))
                    .arg(image.size)
                    .arg(image.offset, 0, 16)
                    .arg(image.sha256);
    write(out_, text);
}

void Reporter::found(const QString& calculator, const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("found"), calculator,
                 {{nameField(QStringLiteral("path"), path), {}}});
        break;
    case OutputMode::Plain:
        plain(calculator, QStringLiteral("found at ") + shown(path));
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
        Fields fields{{nameField(QStringLiteral("path"), path), {}},
                      {QStringLiteral("writable"), boolText(writable)}};
        if (!writable)
            fields.append({QStringLiteral("problem"), jsonString(why)});
        emitJson(QStringLiteral("found"), calculator, fields);
        return;
    }
    write(out_, shown(calculator) + QStringLiteral("  ") + shown(path) + QStringLiteral("  ") +
                    (writable ? QStringLiteral("can be written")
                              : QStringLiteral("cannot be opened for writing: ") + shown(why)) +
                    QLatin1Char('\n'));
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
    case OutputMode::Terminal:
        printAbove(shown(calculator) + QStringLiteral("  left alone: ") + reason +
                   QLatin1Char('\n'));
        break;
    }
}

void Reporter::file(const QString& calculator, const QString& name, int index, int count,
                    std::uint64_t offset, std::uint64_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    Line& entry = line(calculator);
    entry.file = name;
    entry.index = index;
    entry.count = count;
    entry.size = size;
    entry.percent = 0;
    entry.state = QStringLiteral("writing");
    entry.fileClock.start();
    entry.lastPlainDecade = -1;
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("file"), calculator,
                 {{nameField(QStringLiteral("name"), name), {}},
                  {QStringLiteral("offset"), QString::number(offset)},
                  {QStringLiteral("size"), QString::number(size)}});
        break;
    case OutputMode::Plain:
        plain(calculator, QStringLiteral("writing %1/%2 %3 (%4 bytes at 0x%5)")
                              .arg(index)
                              .arg(count)
                              .arg(shown(name))
                              .arg(size)
                              .arg(offset, 0, 16));
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
            plain(calculator, QStringLiteral("%1/%2 %3 %4%")
                                  .arg(entry.index)
                                  .arg(entry.count)
                                  .arg(shown(entry.file))
                                  .arg(percent));
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
        Fields fields{{QStringLiteral("code"), QString::number(code)}};
        if (code != 0)
            fields.append({QStringLiteral("cause"), jsonString(cause)});
        emitJson(QStringLiteral("file_done"), calculator, fields);
        break;
    }
    case OutputMode::Plain:
        if (code == 0)
            plain(calculator, QStringLiteral("%1 written").arg(shown(entry.file)));
        else if (cause.startsWith(entry.file + QLatin1Char(' '))) // the cause names the file
            plain(calculator, resultText(false, code) + QStringLiteral(": ") + shown(cause));
        else
            plain(calculator, QStringLiteral("%1 %2: %3")
                                  .arg(shown(entry.file), resultText(false, code), shown(cause)));
        break;
    case OutputMode::Terminal:
        entry.state = code == 0 ? QStringLiteral("written") : resultText(false, code);
        redraw();
        break;
    }
}

void Reporter::finish(const QString& calculator, bool updated, bool sent, const QString& cause) {
    std::lock_guard<std::mutex> hold(lock_);
    switch (mode_) {
    case OutputMode::Json:
        emitJson(QStringLiteral("finish"), calculator, {{QStringLiteral("ok"), boolText(sent)}});
        break;
    case OutputMode::Plain:
        plain(calculator,
              !sent     ? QStringLiteral("the finish command could not be sent: ") + shown(cause)
              : updated ? QStringLiteral("updated; finish command sent")
                        : QStringLiteral("not updated; finish command sent"));
        break;
    case OutputMode::Terminal:
        // The calculator's line leaves the block: it is over.
        lines_.remove(calculator);
        order_.removeAll(calculator);
        printAbove(shown(calculator) + QStringLiteral("  ") +
                   (updated && sent ? QStringLiteral("updated")
                    : sent          ? QStringLiteral("not updated, finish command sent")
                                    : QStringLiteral("finish command not sent: ") + shown(cause)) +
                   QLatin1Char('\n'));
        return;
    }
    // Nothing more is told of it: its line is let go.
    lines_.remove(calculator);
    order_.removeAll(calculator);
}

void Reporter::counts(int done, int failed) {
    std::lock_guard<std::mutex> hold(lock_);
    const QString text = QStringLiteral("done %1, failed %2").arg(done).arg(failed);
    if (mode_ == OutputMode::Plain) {
        write(out_, text + QLatin1Char('\n'));
    } else if (mode_ == OutputMode::Terminal) {
        countsText_ = text;
        redraw();
    }
}

void Reporter::interrupted(int presses, int running) {
    const QString text =
        presses >= 2  ? QStringLiteral("Stopping every update after the chunk it is writing.")
        : running > 0 ? QStringLiteral("Finishing %1 update%2; Ctrl-C again stops %3 after the "
                                       "current chunk.")
                            .arg(running)
                            .arg(running == 1 ? QString() : QStringLiteral("s"))
                            .arg(running == 1 ? QStringLiteral("it") : QStringLiteral("them"))
                      : QStringLiteral("Stopping.");
    note(text);
}

void Reporter::summary(bool ok, bool interrupted, const std::vector<SummaryRow>& rows) {
    std::lock_guard<std::mutex> hold(lock_);
    if (mode_ == OutputMode::Json) {
        QStringList calculators;
        for (const SummaryRow& row : rows) {
            QString entry = QStringLiteral("{%1,\"files\":%2,\"ok\":%3,\"result\":%4")
                                .arg(nameField(QStringLiteral("calculator"), row.calculator))
                                .arg(row.files)
                                .arg(boolText(row.ok))
                                .arg(row.result);
            if (!row.ok && !row.cause.isEmpty())
                entry += QStringLiteral(",\"cause\":") + jsonString(row.cause);
            if (!row.unrecorded.isEmpty())
                entry += QStringLiteral(",\"recorded\":false,\"unrecorded\":") +
                         jsonString(row.unrecorded);
            calculators << entry + QLatin1Char('}');
        }
        emitJson(QStringLiteral("summary"), QString(),
                 {{QStringLiteral("ok"), boolText(ok)},
                  {QStringLiteral("calculators"),
                   QLatin1Char('[') + calculators.join(QLatin1Char(',')) + QLatin1Char(']')}});
        return;
    }
    int width = 10;
    for (const SummaryRow& row : rows)
        width = std::max(width, shown(row.calculator).size());
    QString text = QLatin1Char('\n') + QStringLiteral("Calculator").leftJustified(width + 2) +
                   QStringLiteral("Result        Time\n");
    QString causes;
    for (const SummaryRow& row : rows) {
        text += shown(row.calculator).leftJustified(width + 2) +
                resultText(row.ok, row.result, row.unrecorded.isEmpty()).leftJustified(14) +
                QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1) + QLatin1Char('\n');
        // A stopped calculator's cause is the interruption, said once below.
        if (!row.ok && !row.cause.isEmpty() && row.result != kResultStopped)
            causes += wrapped(shown(row.calculator) + QStringLiteral(": ") + shown(row.cause)) +
                      QLatin1Char('\n');
        if (!row.unrecorded.isEmpty())
            causes += wrapped(shown(row.calculator) + QStringLiteral(": not in the report: ") +
                              shown(row.unrecorded)) +
                      QLatin1Char('\n');
    }
    if (!causes.isEmpty())
        text += QLatin1Char('\n') + causes;
    // After Ctrl-C the sentence on stderr says how the run ended, once.
    if (!interrupted)
        text += ok ? QStringLiteral("Every calculator was updated.\n")
                   : QStringLiteral("Not every calculator was updated.\n");
    if (mode_ == OutputMode::Terminal && drawn_ > 0) {
        text.prepend(QStringLiteral("\r\x1b[%1A\x1b[J").arg(drawn_));
        drawn_ = 0;
    }
    write(out_, text);
}

void Reporter::note(const QString& said) {
    std::lock_guard<std::mutex> hold(lock_);
    // A note names calculators and paths: anybody's bytes.
    const QString text = shown(said);
    if (mode_ == OutputMode::Terminal) {
        printAbove(wrapped(text) + QLatin1Char('\n'));
        return;
    }
    write(mode_ == OutputMode::Json ? err_ : out_, text + QLatin1Char('\n'));
}
