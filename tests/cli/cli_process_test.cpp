// The real vela-update binary, with real pauses, against the virtual
// calculator: in station mode, calculators that arrive one after another, one
// that comes back after its update, and Ctrl-C (SIGINT) once or twice mid-run;
// the end of a session (SIGTERM, SIGHUP) and a reader that goes away (SIGPIPE)
// in the middle of a file.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

QString unitName(int unit) {
    return QStringLiteral("%1").arg(unit, 8, 10, QLatin1Char('0'));
}

// The trace the virtual calculator left for a unit, one operation a line.
QStringList traceOf(const QString& dir, int unit) {
    QFile file(QStringLiteral("%1/unit%2.trace").arg(dir).arg(unit));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

QList<QJsonObject> eventsOf(const QByteArray& lines) {
    QList<QJsonObject> events;
    for (const QByteArray& line : lines.split('\n')) {
        if (!line.trimmed().isEmpty())
            events.append(QJsonDocument::fromJson(line).object());
    }
    return events;
}

// Every file begun has its file_done.
bool everyFileEnded(const QList<QJsonObject>& events) {
    int open = 0;
    for (const QJsonObject& event : events) {
        open += event.value("event") == "file";
        open -= event.value("event") == "file_done";
    }
    return open == 0;
}

int countFinishes(const QStringList& trace) {
    int n = 0;
    for (const QString& line : trace)
        n += line.endsWith(" FINISH");
    return n;
}

} // namespace

class CliProcessTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void station_data();
    void station();
    void endOfSession_data();
    void endOfSession();
    void reportSurvivesAKill();

private:
    QTemporaryDir dir_;
};

void CliProcessTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(QDir(dir_.path()).mkdir("firmware"));
    const struct {
        const char* name;
        int size;
    } images[] = {{"VELA_APP.DAT", 70000}, {"VELA_MAIN.DAT", 40000}, {"VELA_OS.ROM", 100000}};
    for (const auto& image : images) {
        QFile file(dir_.path() + "/firmware/" + image.name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(image.size, 'v'));
    }
}

void CliProcessTest::station_data() {
    QTest::addColumn<QString>("calculator");
    QTest::addColumn<int>("presses");     // Ctrl-C presses once a session runs; 0: after it all
    QTest::addColumn<int>("finished");    // calculators whose update was finished
    QTest::addColumn<bool>("incomplete"); // unit 0 left incomplete
    // Unit 0 leaves after its finish command and comes back: already done.
    QTest::newRow("one after another, one of them twice")
        << "units=3,arrive_ms=1500,leave_after_finish=1,again=0,again_ms=500" << 0 << 3 << false;
    // Unit 1 arrives long after the press: it is never taken.
    QTest::newRow("Ctrl-C once: the running session finishes")
        << "units=2,arrive_ms=600000,slow_ms=10" << 1 << 1 << false;
    QTest::newRow("Ctrl-C twice: stopped after the current chunk")
        << "units=2,arrive_ms=600000,slow_ms=10" << 2 << 0 << true;
    // Without a serial number nothing says it is the same calculator: it is
    // updated again each time it comes back.
    QTest::newRow("without a serial: updated each time")
        << "units=3,no_serial=1,arrive_ms=1500,leave_after_finish=1,again=0,again_ms=500" << 0 << 4
        << false;
}

void CliProcessTest::station() {
    QFETCH(QString, calculator);
    QFETCH(int, presses);
    QFETCH(int, finished);
    QFETCH(bool, incomplete);
    // The folder goes into a comma-separated value: the tag without its commas.
    const QString unitsDir =
        dir_.path() + "/" +
        QString(QTest::currentDataTag()).replace(QRegularExpression("\\W"), "_");
    QVERIFY(QDir().mkpath(unitsDir));
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("UPDATER_VIRTUAL_CALCULATOR", calculator + ",dir=" + unitsDir);
    process.setProcessEnvironment(env);
    process.start(VELA_UPDATE_BINARY, {"station", dir_.path() + "/firmware", "--json"});
    QVERIFY(process.waitForStarted());

    QList<QJsonObject> events;
    int finishes = 0;
    int alreadyDone = 0;
    int sent = 0;
    // Every line is read as it comes; the presses follow what the lines say.
    while (process.state() != QProcess::NotRunning || process.canReadLine()) {
        if (!process.canReadLine()) {
            if (!process.waitForReadyRead(60000) && process.state() == QProcess::Running)
                QFAIL("the station said nothing for a minute");
            continue;
        }
        const QByteArray line = process.readLine().trimmed();
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        QVERIFY2(doc.isObject(), line.constData());
        const QJsonObject event = doc.object();
        events.append(event);
        const QString name = event.value("event").toString();
        finishes += name == "finish";
        alreadyDone += name == "left_alone" && event.value("reason") == "already done";
        const bool serials = !calculator.contains("no_serial");
        const bool pressNow =
            presses == 0 ? finishes == finished && alreadyDone == (serials ? 1 : 0) && sent == 0
                         : name == "progress" && sent < presses;
        if (pressNow) {
            ::kill(static_cast<pid_t>(process.processId()), SIGINT);
            ++sent;
        }
    }
    // The loop above ends once the process has ended and its lines are read.
    QCOMPARE(process.state(), QProcess::NotRunning);
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.last().value("event").toString(), QString("summary"));
    QCOMPARE(finishes, finished);
    const bool serials = !calculator.contains("no_serial");
    QCOMPARE(alreadyDone, presses == 0 && serials ? 1 : 0);
    QCOMPARE(err.contains("left incomplete: " + unitName(0)), incomplete);
    QVERIFY(everyFileEnded(events));

    const QJsonArray summary = events.last().value("calculators").toArray();
    QCOMPARE(summary.size(), presses == 0 ? finished : 1);
    const QJsonObject first = summary.at(0).toObject();
    QCOMPARE(first.value("result").toInt(), incomplete ? 115 : 0);
    // Unit 0 took one update and one finish command when it came back with
    // its serial, two of each without one.
    const QStringList trace = traceOf(unitsDir, 0);
    QCOMPARE(countFinishes(trace), incomplete ? 0 : serials ? 1 : 2);
    if (presses == 0)
        QCOMPARE(trace.size(), traceOf(unitsDir, 1).size() * (serials ? 1 : 2));
    else
        QVERIFY(traceOf(unitsDir, 1).isEmpty());
}

// The end of a session, or a reader that went away, in the middle of a file:
// no chunk is cut; after a stop every calculator left incomplete is named,
// with a file_done for every file begun; an output that broke lets the
// updates go on to their end. Never exit 0.
void CliProcessTest::endOfSession_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("SIGTERM") << int(SIGTERM) << 130 << "left incomplete: " + unitName(0);
    QTest::newRow("SIGHUP, the terminal closed")
        << int(SIGHUP) << 130 << "left incomplete: " + unitName(0);
    QTest::newRow("SIGPIPE, the reader gone") << int(SIGPIPE) << 5 << "output could not be written";
}

void CliProcessTest::endOfSession() {
    QFETCH(int, signal);
    QFETCH(int, code);
    QFETCH(QString, said);
    const QString unitsDir = dir_.path() + "/end" + QString::number(signal);
    QVERIFY(QDir().mkpath(unitsDir));
    QProcess process;
    QList<QJsonObject> events;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("UPDATER_VIRTUAL_CALCULATOR", "units=1,slow_ms=20,dir=" + unitsDir);
    process.setProcessEnvironment(env);
    const QStringList install{"install", dir_.path() + "/firmware", "--json", "--yes"};
    if (signal == SIGPIPE) {
        // The reader takes the first line and goes: every later line fails.
        process.start("bash", QStringList{"-c",
                                          "\"$@\" | head -1 >/dev/null; "
                                          "exit ${PIPESTATUS[0]}",
                                          "bash", VELA_UPDATE_BINARY} +
                                  install);
    } else {
        process.start(VELA_UPDATE_BINARY, install);
        while (process.waitForReadyRead(60000) || process.canReadLine()) {
            const QByteArray line = process.readLine();
            if (line.isEmpty())
                continue;
            events.append(QJsonDocument::fromJson(line).object());
            if (events.last().value("event") == "progress")
                break;
        }
        QVERIFY2(!events.isEmpty() && events.last().value("event") == "progress", "no progress");
        ::kill(static_cast<pid_t>(process.processId()), signal);
    }
    QVERIFY(process.waitForFinished(60000));
    events.append(eventsOf(process.readAllStandardOutput()));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), code);
    QVERIFY2(err.contains(said), qPrintable(err));
    // The process ended by itself: the calculator's record was left, every
    // write in it whole; the broken output did not stop the update.
    const QStringList trace = traceOf(unitsDir, 0);
    QVERIFY(!trace.isEmpty());
    QVERIFY(!trace.join('\n').contains("FAILED"));
    QCOMPARE(countFinishes(trace), signal == SIGPIPE ? 1 : 0);
    if (signal != SIGPIPE)
        QVERIFY(everyFileEnded(events));
}

// A day at a station killed outright (SIGKILL) mid-session: every session
// that had ended has its whole line in the report, and no line is cut.
void CliProcessTest::reportSurvivesAKill() {
    const QString report = dir_.path() + "/station.jsonl";
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("UPDATER_VIRTUAL_CALCULATOR",
               "units=4,arrive_ms=800,leave_after_finish=1,slow_ms=5");
    process.setProcessEnvironment(env);
    process.start(VELA_UPDATE_BINARY,
                  {"station", dir_.path() + "/firmware", "--json", "--report", report});
    QVERIFY(process.waitForStarted());
    int finishes = 0;
    while (finishes < 2 && process.waitForReadyRead(60000)) {
        while (process.canReadLine())
            finishes += process.readLine().contains("\"event\":\"finish\"");
    }
    QCOMPARE(finishes, 2);
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    QVERIFY(process.waitForFinished(60000));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.endsWith('\n'));
    const QList<QByteArray> lines = text.trimmed().split('\n');
    QVERIFY2(!lines.isEmpty() && lines.size() <= finishes, text.constData());
    for (const QByteArray& line : lines)
        QVERIFY2(QJsonDocument::fromJson(line).object().value("result").toInt(-1) == 0,
                 line.constData());
}

QTEST_GUILESS_MAIN(CliProcessTest)
#include "cli_process_test.moc"
