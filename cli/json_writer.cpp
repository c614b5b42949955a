// --json: one JSON object per line on stdout, and nothing else there; the
// notes for the person go to stderr.
#include "cli/report_writers.h"

#include "cli/wrapping.h"

namespace {

QString boolText(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

class JsonWriter : public ReportWriter {
public:
    explicit JsonWriter(Output& output) : output_(output) {}

    void set(const QString& folder, bool manifestChecked, const QList<SetImage>& images) override {
        QStringList list;
        for (const SetImage& image : images)
            list << QStringLiteral("{%1,\"offset\":%2,\"size\":%3,\"sha256\":\"%4\"}")
                        .arg(Reporter::nameField(QStringLiteral("name"), image.name))
                        .arg(image.offset)
                        .arg(image.size)
                        .arg(image.sha256);
        put(QStringLiteral("set"), QString(),
            {{Reporter::nameField(QStringLiteral("folder"), folder), {}},
             {QStringLiteral("manifest"), boolText(manifestChecked)},
             {QStringLiteral("images"),
              QLatin1Char('[') + list.join(QLatin1Char(',')) + QLatin1Char(']')}});
    }
    void found(const QString& calculator, const QString& path) override {
        put(QStringLiteral("found"), calculator,
            {{Reporter::nameField(QStringLiteral("path"), path), {}}});
    }
    void listed(const QString& calculator, const QString& path, bool writable,
                const QString& why) override {
        Fields fields{{Reporter::nameField(QStringLiteral("path"), path), {}},
                      {QStringLiteral("writable"), boolText(writable)}};
        if (!writable)
            fields.append({QStringLiteral("problem"), Reporter::jsonString(why)});
        put(QStringLiteral("found"), calculator, fields);
    }
    void leftAlone(const QString& calculator, const QString& reason) override {
        put(QStringLiteral("left_alone"), calculator,
            {{QStringLiteral("reason"), Reporter::jsonString(reason)}});
    }
    void file(const QString& calculator, const QString& name, int, int, std::uint64_t offset,
              std::uint64_t size) override {
        put(QStringLiteral("file"), calculator,
            {{Reporter::nameField(QStringLiteral("name"), name), {}},
             {QStringLiteral("offset"), QString::number(offset)},
             {QStringLiteral("size"), QString::number(size)}});
    }
    void progress(const QString& calculator, int percent) override {
        put(QStringLiteral("progress"), calculator,
            {{QStringLiteral("percent"), QString::number(percent)}});
    }
    void retry(const QString& calculator, int code, int attempt) override {
        put(QStringLiteral("retry"), calculator,
            {{QStringLiteral("code"), QString::number(code)},
             {QStringLiteral("attempt"), QString::number(attempt)}});
    }
    void fileDone(const QString& calculator, int code, const QString& cause,
                  const QString& next) override {
        Fields fields{{QStringLiteral("code"), QString::number(code)}};
        if (code != 0)
            addCause(fields, cause, next);
        put(QStringLiteral("file_done"), calculator, fields);
    }
    void finish(const QString& calculator, bool sent, const QString& cause,
                const QString& next) override {
        Fields fields{{QStringLiteral("ok"), boolText(sent)}};
        if (!sent)
            addCause(fields, cause, next);
        put(QStringLiteral("finish"), calculator, fields);
    }
    void waiting(const QString& calculator, bool back, int seconds, const QString& next) override {
        Fields fields{{QStringLiteral("reason"), QStringLiteral("\"disconnected\"")},
                      {QStringLiteral("back"), boolText(back)}};
        if (!back)
            fields << QPair<QString, QString>{QStringLiteral("seconds"), QString::number(seconds)}
                   << QPair<QString, QString>{QStringLiteral("next"), Reporter::jsonString(next)};
        put(QStringLiteral("waiting"), calculator, fields);
    }
    // The summary tells how each run ended.
    void ended(const QString&, bool, int, const QString&, bool bell) override {
        if (bell)
            output_.err(QStringLiteral("\a"));
    }
    void idle(bool waiting) override {
        if (waiting)
            put(QStringLiteral("waiting"), QString(),
                {{QStringLiteral("reason"), QStringLiteral("\"next_calculator\"")}});
    }
    void counts(int, int) override {}
    void summary(bool ok, const std::vector<SummaryRow>& rows, const QString&) override {
        QStringList calculators;
        for (const SummaryRow& row : rows) {
            QString entry =
                QStringLiteral("{%1,\"files\":%2,\"ok\":%3,\"result\":%4")
                    .arg(Reporter::nameField(QStringLiteral("calculator"), row.calculator))
                    .arg(row.files)
                    .arg(boolText(row.ok))
                    .arg(row.result);
            if (!row.ok && !row.cause.isEmpty())
                entry += QStringLiteral(",\"cause\":") + Reporter::jsonString(row.cause);
            if (!row.ok && !row.next.isEmpty())
                entry += QStringLiteral(",\"next\":") + Reporter::jsonString(row.next);
            if (!row.unrecorded.isEmpty())
                entry += QStringLiteral(",\"recorded\":false,\"unrecorded\":") +
                         Reporter::jsonString(row.unrecorded);
            calculators << entry + QLatin1Char('}');
        }
        put(QStringLiteral("summary"), QString(),
            {{QStringLiteral("ok"), boolText(ok)},
             {QStringLiteral("calculators"),
              QLatin1Char('[') + calculators.join(QLatin1Char(',')) + QLatin1Char(']')}});
    }
    void note(const QString& text) override {
        output_.err(wrapText(text, output_.columns()) + QLatin1Char('\n'));
    }

private:
    // A field whose value is null is written whole: a name with its bytes beside it.
    using Fields = QList<QPair<QString, QString>>;

    // A failure's cause, and what to do next when there is something to do.
    static void addCause(Fields& fields, const QString& cause, const QString& next) {
        fields.append({QStringLiteral("cause"), Reporter::jsonString(cause)});
        if (!next.isEmpty())
            fields.append({QStringLiteral("next"), Reporter::jsonString(next)});
    }

    void put(const QString& event, const QString& calculator, const Fields& fields) {
        QString text = QStringLiteral("{\"event\":") + Reporter::jsonString(event);
        if (!calculator.isNull())
            text +=
                QLatin1Char(',') + Reporter::nameField(QStringLiteral("calculator"), calculator);
        for (const auto& field : fields)
            text += QLatin1Char(',') +
                    (field.second.isNull()
                         ? field.first
                         : Reporter::jsonString(field.first) + QLatin1Char(':') + field.second);
        output_.out(text + QStringLiteral("}\n"));
    }

    Output& output_;
};

} // namespace

std::unique_ptr<ReportWriter> jsonWriter(Output& output) {
    return std::make_unique<JsonWriter>(output);
}
