// The text the plain and the terminal writers share.
#include "cli/report_writers.h"

#include "cli/wrapping.h"
#include "device/calculators.h"

#include <algorithm>

namespace {

// Advice is a sentence of its own; after a colon it goes on the line.
QString continued(const QString& next) {
    return next.left(1).toLower() + next.mid(1);
}

} // namespace

QString report_text::result(bool ok, int code, bool recorded) {
    if (ok)
        return QStringLiteral("ok");
    if (!recorded && code == 0)
        return QStringLiteral("not recorded");
    // Told to stop after a chunk: not a failure of the calculator's.
    if (code == kResultStopped)
        return QStringLiteral("stopped");
    return QStringLiteral("failed (%1)").arg(code);
}

QString report_text::disconnected(const QString& calculator, int seconds, const QString& next) {
    QString text = Reporter::shown(calculator) + QStringLiteral(" was disconnected");
    if (!next.isEmpty())
        text += QStringLiteral(": ") + continued(next);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text + QStringLiteral(" (waiting up to %1 s).").arg(seconds);
}

QString report_text::connectedAgain(const QString& calculator) {
    return Reporter::shown(calculator) + QStringLiteral(" is connected again: the update goes on.");
}

QString report_text::set(const QString& folder, bool manifestChecked,
                         const QList<SetImage>& images) {
    QString text =
        QStringLiteral("Firmware set in %1%2:\n")
            .arg(Reporter::shown(folder), manifestChecked ? QStringLiteral(" (checked against "
                                                                           "SHA256SUMS)")
                                                          : QString());
    for (const SetImage& image : images)
        // The digest too long for a narrow terminal stays beside its name.
        text += QStringLiteral("  %1  %2 bytes at 0x%3\n    sha256")
                    .arg(Reporter::shown(image.name))
                    .arg(image.size)
                    .arg(image.offset, 0, 16) +
                QChar(kKeepTogether) + image.sha256 + QLatin1Char('\n');
    return text;
}

QString report_text::listed(const QString& calculator, const QString& path, bool writable,
                            const QString& why) {
    return Reporter::shown(calculator) + QStringLiteral("  ") + Reporter::shown(path) +
           QStringLiteral("  ") +
           (writable ? QStringLiteral("can be written")
                     : QStringLiteral("cannot be opened for writing: ") + Reporter::shown(why)) +
           QLatin1Char('\n');
}

QString report_text::summary(const std::vector<SummaryRow>& rows, const QString& closing,
                             int columns) {
    if (rows.empty())
        return closing.isEmpty() ? QString() : wrapText(closing, columns) + QLatin1Char('\n');
    int width = 10;
    for (const SummaryRow& row : rows)
        width = std::max(width, Reporter::shown(row.calculator).size());
    QString text = QLatin1Char('\n') + QStringLiteral("Calculator").leftJustified(width + 2) +
                   QStringLiteral("Result        Time\n");
    QString causes;
    for (const SummaryRow& row : rows) {
        const QString name = Reporter::shown(row.calculator);
        text += name.leftJustified(width + 2) +
                result(row.ok, row.result, row.unrecorded.isEmpty()).leftJustified(14) +
                QStringLiteral("%1 s").arg(row.seconds, 0, 'f', 1) + QLatin1Char('\n');
        // A stopped calculator's cause is the interruption, said once below.
        if (!row.ok && !row.cause.isEmpty() && row.result != kResultStopped)
            causes += wrapText(name + QStringLiteral(": ") + Reporter::shown(row.cause), columns) +
                      QLatin1Char('\n');
        // Then what to do about it, set apart from the cause.
        if (!row.ok && !row.next.isEmpty() && row.result != kResultStopped)
            causes += wrapText(QStringLiteral("  ") + row.next, columns) + QLatin1Char('\n');
        if (!row.unrecorded.isEmpty())
            causes += wrapText(name + QStringLiteral(": not in the report: ") +
                                   Reporter::shown(row.unrecorded),
                               columns) +
                      QLatin1Char('\n');
    }
    if (!causes.isEmpty())
        text += QLatin1Char('\n') + causes;
    if (!closing.isEmpty())
        text += wrapText(closing, columns) + QLatin1Char('\n');
    return text;
}

QString report_text::ended(bool updated, int result, const QString& next) {
    // The calculator has left update mode: it may go.
    if (updated)
        return QStringLiteral("updated: unplug it now");
    QString text = report_text::result(false, result);
    if (!next.isEmpty())
        text += QStringLiteral(": ") + continued(next);
    return text;
}

QString report_text::idle() {
    return QStringLiteral("Waiting for the next calculator (Ctrl-C to end)...");
}

QString report_text::counts(int updated, int failed) {
    return QStringLiteral("updated %1, failed %2").arg(updated).arg(failed);
}
