#include "cli/reporter.h"

#include "base/utf16_text.h"
#include "cli/report_writers.h"
#include "cli/wrapping.h"
#include "device/calculators.h"
#include "strings/res_qstring.h"

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
    return qStringFromUtf16(escapedForDisplay(text.toStdU16String()));
}

QString Reporter::nameField(const QString& field, const QString& name) {
    QString text = jsonString(field) + QLatin1Char(':') + jsonString(name);
    if (holdsNonText(name))
        text += QLatin1Char(',') + jsonString(field + QStringLiteral("_bytes")) + QLatin1Char(':') +
                jsonString(hexBytes(name));
    return text;
}

Reporter::Reporter(OutputMode mode, QTextStream& out, QTextStream& err, int columns)
    : output_(std::make_unique<Output>(out, err, columns)) {
    switch (mode) {
    case OutputMode::Json:
        writer_ = jsonWriter(*output_);
        break;
    case OutputMode::Plain:
        writer_ = plainWriter(*output_);
        break;
    case OutputMode::Terminal:
        writer_ = terminalWriter(*output_);
        break;
    }
}

Reporter::~Reporter() = default;

bool Reporter::outputFailed() const {
    return output_->failed();
}

void Output::write(QTextStream& stream, const QString& text) {
    stream << text;
    stream.flush();
    // A closed pipe or a full disk must not end the process in the middle of
    // a file; the caller hears of it and stops between calculators.
    if (stream.status() != QTextStream::Ok)
        failed_.store(true);
}

void Reporter::set(const QString& folder, bool manifestChecked, const QList<SetImage>& images) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->set(folder, manifestChecked, images);
}

void Reporter::plan(const QList<QPair<QString, QString>>& calculators) {
    QString text = QStringLiteral("Calculators to update (%1):").arg(calculators.size());
    // A path too long for the line goes on below it, under the paths above.
    for (const auto& calculator : calculators)
        text += QStringLiteral("\n  %1  %2%3")
                    .arg(shown(calculator.first), QChar(kHangHere), shown(calculator.second));
    std::lock_guard<std::mutex> hold(lock_);
    writer_->note(text);
}

void Reporter::found(const QString& calculator, const QString& path) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->found(calculator, path);
}

void Reporter::listed(const QString& calculator, const QString& path, bool writable,
                      const QString& why) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->listed(calculator, path, writable, why);
}

void Reporter::leftAlone(const QString& calculator, const QString& reason) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->leftAlone(calculator, reason);
}

void Reporter::file(const QString& calculator, const QString& name, int index, int count,
                    std::uint64_t offset, std::uint64_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->file(calculator, name, index, count, offset, size);
}

void Reporter::progress(const QString& calculator, int percent) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->progress(calculator, percent);
}

void Reporter::retry(const QString& calculator, int code, int attempt) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->retry(calculator, code, attempt);
}

void Reporter::fileDone(const QString& calculator, int code, const QString& cause,
                        const QString& next) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->fileDone(calculator, code, cause, next);
}

void Reporter::finish(const QString& calculator, bool sent, const QString& cause,
                      const QString& next) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->finish(calculator, sent, cause, next);
}

void Reporter::ended(const QString& calculator, bool updated, int result, const QString& next) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->ended(calculator, updated, result, next, bell_);
}

void Reporter::idle(bool waiting) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->idle(waiting);
}

void Reporter::waiting(const QString& calculator, bool back, int seconds, const QString& next) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->waiting(calculator, back, seconds, next);
}

void Reporter::counts(int updated, int failed) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->counts(updated, failed);
}

void Reporter::interrupted(int presses, int running) {
    const QString text =
        presses >= 2  ? QStringLiteral("Stopping every update after the chunk it is writing.")
        : running > 0 ? QStringLiteral("Finishing %1 update%2; a second Ctrl-C stops %3 after "
                                       "the current chunk and leaves %3 incomplete.")
                            .arg(running)
                            .arg(running == 1 ? QString() : QStringLiteral("s"))
                            .arg(running == 1 ? QStringLiteral("it") : QStringLiteral("them"))
                      : QStringLiteral("Stopping.");
    note(text);
}

void Reporter::summary(bool ok, const std::vector<SummaryRow>& rows, const QString& closing) {
    std::lock_guard<std::mutex> hold(lock_);
    writer_->summary(ok, rows, closing);
}

void Reporter::note(const QString& text) {
    std::lock_guard<std::mutex> hold(lock_);
    // A note names calculators and paths: anybody's bytes.
    writer_->note(shown(text));
}
