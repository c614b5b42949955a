#include "cli/calculator_run.h"

#include "cli/tool.h"
#include "session/advice.h"
#include "strings/res_qstring.h"

#include <QDateTime>

#ifndef UPDATER_VERSION
#define UPDATER_VERSION "0"
#endif

namespace {

QString utcNow() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// What to do after a failure of this kind, in English.
QString nextAfter(Failure failure) {
    return englishText(adviceFor(failure));
}

// The failure of a step, as the one calculator of the run had it.
Failure failureOf(const RunStep& step) {
    return step.calculators.empty() ? step.result.failure : step.calculators.front().failure;
}

} // namespace

QString nameOf(const DiskIdentity& disk) {
    return qStringFromUtf16(calculatorName(disk));
}

QString keyOf(const DiskIdentity& disk) {
    return qStringFromUtf16(identityKey(disk));
}

CalculatorRun::CalculatorRun(DiskIdentity disk, SetToInstall& set, Reporter& reporter,
                             const RunChoices& choices)
    : disk_(std::move(disk)), set_(set), reporter_(reporter), choices_(choices) {
    run_.begin(set.files, disk_, this);
    started_ = utcNow();
    clock_.start();
    thread_ = std::thread([this] {
        RunOptions options;
        options.stop = choices_.stop;
        options.waitForReturnMs = choices_.waitForReturnMs;
        result_ = run_.run(options);
        seconds_ = static_cast<double>(clock_.elapsed()) / 1000.0;
        // A run whose line is not in the report is not over well: a day at a
        // station must not turn out unrecorded.
        QString why;
        if (set_.report.isOpen() && !set_.report.append(reportLine(), why))
            unrecorded_ = why;
        reporter_.ended(nameOf(disk_), updated(), result_.result, next());
        ended_.store(true);
    });
}

CalculatorRun::~CalculatorRun() {
    join();
}

void CalculatorRun::join() {
    if (thread_.joinable())
        thread_.join();
}

SummaryRow CalculatorRun::row() {
    join();
    SummaryRow row;
    row.calculator = nameOf(disk_);
    row.ok = updated() && unrecorded_.isEmpty();
    row.result = result_.result;
    row.files = result_.filesWritten;
    row.seconds = seconds_;
    row.cause = qStringFromUtf16(result_.cause);
    row.next = next();
    row.unrecorded = unrecorded_;
    return row;
}

bool CalculatorRun::stopped() {
    join();
    return result_.stopped;
}

void CalculatorRun::stepEnded(const RunStep& step) {
    if (!step.finish)
        told_.transfer = step;
    else if (!step.result.calculators.empty())
        told_.finishFailure = step.result.calculators.front().failure;
}

QString CalculatorRun::next() const {
    if (updated())
        return QString();
    // A calculator that left when the run is over: a station takes it again
    // when it is plugged in; after install, the update is started again.
    if (result_.failure == Failure::Disconnected ||
        result_.failure == Failure::DisconnectedNoSerial)
        return englishText(choices_.takenAgain ? Advice::ConnectAgain
                                               : Advice::ConnectAgainAndStart);
    return nextAfter(result_.failure);
}

int CalculatorRun::filesHeld() const {
    const std::vector<CalculatorState>& own = told_.transfer.calculators;
    return own.empty() ? 0 : own.front().filesHeld;
}

void CalculatorRun::fileStarted(const DiskIdentity& disk, const RunFile& file) {
    // The files go in order, each until it is held: the next is the one after those held.
    reporter_.file(nameOf(disk), qStringFromUtf16(file.name), filesHeld() + 1,
                   static_cast<int>(set_.files.size()), file.diskOffset, file.size);
}

void CalculatorRun::progress(const DiskIdentity& disk, int percent) {
    reporter_.progress(nameOf(disk), percent);
}

void CalculatorRun::fileEnded(const DiskIdentity& disk, const RunFile&, ResultCode code,
                              const std::u16string& cause) {
    // The engine told of the transfer's step just before.
    reporter_.fileDone(nameOf(disk), code, qStringFromUtf16(cause),
                       code == kResultOk ? QString() : nextAfter(failureOf(told_.transfer)));
}

void CalculatorRun::retrying(const DiskIdentity& disk, ResultCode code, int attempt) {
    reporter_.retry(nameOf(disk), code, attempt);
}

void CalculatorRun::waiting(const DiskIdentity& disk, bool back) {
    reporter_.waiting(nameOf(disk), back, choices_.waitForReturnMs / 1000,
                      nextAfter(Failure::Disconnected));
}

void CalculatorRun::finished(const DiskIdentity& disk, ResultCode code,
                             const std::u16string& cause) {
    // The engine told of the finish command's step just before.
    reporter_.finish(nameOf(disk), code == kResultOk, qStringFromUtf16(cause),
                     code == kResultOk ? QString() : nextAfter(told_.finishFailure));
}

// Each image's last result as the engine holds it: those written, then the
// one that failed when one did; null for an image never tried.
QString CalculatorRun::imageResult(std::size_t image) const {
    const RunStep& step = told_.transfer;
    if (step.files == 0)
        return QStringLiteral("null"); // no transfer at all
    const std::vector<CalculatorState>& own = step.calculators;
    const auto held = static_cast<std::size_t>(own.empty() ? 0 : own.front().filesHeld);
    const ResultCode last = own.empty() ? step.result.code : own.front().last;
    if (image < held)
        return QStringLiteral("0");
    if (image == held && last != kResultOk)
        return QString::number(last);
    return QStringLiteral("null");
}

// Who, when, what and how it ended: enough to answer from the report alone
// which calculators got which set, and which failed and why.
QString CalculatorRun::reportLine() const {
    const auto field = [](const char* name, const QString& value) {
        return QStringLiteral(",\"%1\":").arg(QLatin1String(name)) + Reporter::jsonString(value);
    };
    QString line = QStringLiteral("{\"version\":\"" UPDATER_VERSION "\"") +
                   field("started", started_) + field("ended", utcNow()) + QLatin1Char(',') +
                   Reporter::nameField(QStringLiteral("calculator"), nameOf(disk_));
    line += disk_.hasSerial()
                ? QLatin1Char(',') +
                      Reporter::nameField(QStringLiteral("serial"), qStringFromUtf16(disk_.serial))
                : field("port", qStringFromUtf16(disk_.port));
    line += QLatin1Char(',') + Reporter::nameField(QStringLiteral("folder"), set_.folder) +
            QStringLiteral(",\"manifest\":%1,\"images\":[").arg(boolText(set_.manifest));
    for (std::size_t i = 0; i < set_.files.size(); ++i) {
        const RunFile& file = set_.files[i];
        line += QStringLiteral("%1{%2,\"sha256\":\"%3\",\"result\":%4}")
                    .arg(i == 0 ? QString() : QStringLiteral(","))
                    .arg(Reporter::nameField(QStringLiteral("name"), qStringFromUtf16(file.name)))
                    .arg(QString::fromStdString(Sha256::hex(file.sha256)))
                    .arg(imageResult(i));
    }
    line += QStringLiteral("],\"result\":%1").arg(result_.result) +
            field("cause", qStringFromUtf16(result_.cause)) + field("next", next()) +
            QStringLiteral(",\"finish_sent\":%1}").arg(boolText(result_.finishSent));
    return line;
}
