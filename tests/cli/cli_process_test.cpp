// The real vela-update binary, with real pauses, against the virtual
// calculator: in station mode, calculators that arrive one after another, one
// that comes back after its update, and Ctrl-C (SIGINT) once or twice mid-run;
// the end of a session (SIGTERM, SIGHUP) and a reader that goes away (SIGPIPE)
// in the middle of a file. Names, manifests and reports that are not what
// they seem, each run ended after 10 s whatever it does.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

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

const char* const kImages[] = {"VELA_APP.DAT", "VELA_MAIN.DAT", "VELA_OS.ROM"};

struct Ended {
    bool ended = false; // by itself, within 10 s
    int code = -1;
    QByteArray said;   // on stdout and stderr
    long maxRssKb = 0; // of every process this test has started so far
};

// The tool with these arguments, each as printf's %b makes it (bytes by
// \xNN), started by bash after the commands in `before`. Killed after 10 s.
Ended runTool(const QStringList& args, const QString& before = "true") {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::MergedChannels);
    const QString script =
        R"sh(; a=(); for x; do a+=("$(printf %b "$x")"); done; exec "$0" "${a[@]}")sh";
    tool.start("bash", QStringList{"-c", before + script, VELA_UPDATE_BINARY} + args);
    Ended run;
    run.ended = tool.waitForFinished(10000);
    if (!run.ended)
        tool.kill(), tool.waitForFinished();
    run.code = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    run.said = tool.readAll();
    struct rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    run.maxRssKb = usage.ru_maxrss;
    return run;
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
    void report_data();
    void report();
    void manifestThatIsNoList_data();
    void manifestThatIsNoList();
    void namesAsBytes_data();
    void namesAsBytes();

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
    QTest::addColumn<int>("code");
    // Unit 0 leaves after its finish command and comes back: already done.
    // Ctrl-C while the station waits for the next calculator ends it well.
    QTest::newRow("one after another, one of them twice")
        << "units=3,arrive_ms=1500,leave_after_finish=1,again=0,again_ms=500" << 0 << 3 << false
        << 0;
    // Unit 1 arrives long after the press: it is never taken.
    QTest::newRow("Ctrl-C once: the running update finishes")
        << "units=2,arrive_ms=600000,slow_ms=10" << 1 << 1 << false << 130;
    QTest::newRow("Ctrl-C twice: stopped after the current chunk")
        << "units=2,arrive_ms=600000,slow_ms=10" << 2 << 0 << true << 130;
    // Without a serial number nothing says it is the same calculator: it is
    // updated again each time it comes back.
    QTest::newRow("without a serial: updated each time")
        << "units=3,no_serial=1,arrive_ms=1500,leave_after_finish=1,again=0,again_ms=500" << 0 << 4
        << false << 0;
}

void CliProcessTest::station() {
    QFETCH(QString, calculator);
    QFETCH(int, presses);
    QFETCH(int, finished);
    QFETCH(bool, incomplete);
    QFETCH(int, code);
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
            presses == 0 ? finishes == finished && alreadyDone == (serials ? 1 : 0) && sent == 0 &&
                               name == "waiting" && event.value("reason") == "next_calculator"
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
    QCOMPARE(process.exitCode(), code);
    QCOMPARE(err.contains("interrupted"), code != 0);
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

// A record that cannot be written whole is said, and costs the exit code;
// no line in the file is ever cut or mixed with another, nor anything but a
// record.
void CliProcessTest::report_data() {
    QTest::addColumn<QString>("report"); // "file", "fifo", or a path
    QTest::addColumn<bool>("beside");    // another vela-update appends to the same file
    QTest::addColumn<QString>("before"); // bash's commands before the tool
    QTest::addColumn<int>("code");
    // The first line fills the file to 1000 bytes; the disk takes 1024.
    QTest::newRow("the disk full in a line") << "file" << false << "ulimit -f 1" << 5;
    QTest::newRow("the disk full, another station beside") << "file" << true << "ulimit -f 1" << 5;
    QTest::newRow("stdout and stderr closed") << "file" << false << "exec >&- 2>&-" << 0;
    QTest::newRow("a FIFO without a reader") << "fifo" << false << "true" << 1;
    QTest::newRow("/dev/full") << "/dev/full" << false << "true" << 1;
}

void CliProcessTest::report() {
    QFETCH(QString, report);
    QFETCH(QString, before);
    QFETCH(bool, beside);
    QFETCH(int, code);
    QTemporaryDir dir;
    const QString path = report.startsWith('/') ? report : dir.path() + "/report";
    QFile file(path);
    if (report == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (report == "file")
        QVERIFY(file.open(QIODevice::WriteOnly) &&
                file.write("{\"before\":\"" + QByteArray(984, '.') + "\"}\n") && file.flush());
    qputenv("UPDATER_VIRTUAL_CALCULATOR", "units=2");
    const QStringList install{"install", dir_.path() + "/firmware", "--json", "--yes", "--report",
                              path};
    QProcess other;
    if (beside)
        other.start(VELA_UPDATE_BINARY, install);
    const Ended run = runTool(install, before);
    QVERIFY(!beside || (other.waitForFinished(20000) && other.exitCode() == 0));
    QVERIFY2(run.ended, "still running after 10 s");
    QCOMPARE(run.code, code);
    if (!before.startsWith("exec")) {
        QCOMPARE(run.said.contains("\"event\":\"summary\",\"ok\":true"), code == 0);
        QCOMPARE(run.said.contains("vela-update: the report "), code != 0);
        QCOMPARE(run.said.contains("\"event\":\"found\""), code != 1);
    }
    if (report != "file")
        return;
    file.close();
    const QByteArray text = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    for (const QByteArray& line : text.trimmed().split('\n'))
        QVERIFY2(QJsonDocument::fromJson(line).isObject() && !line.contains("\"event\""),
                 text.constData());
    // The first line, and one for each calculator of each run that ended well.
    QCOMPARE(text.count('\n'), 1 + (code == 0 ? 2 : 0) + (beside ? 2 : 0));
}

// SHA256SUMS is read as an image is: only a regular file, and within a bound.
void CliProcessTest::manifestThatIsNoList_data() {
    QTest::addColumn<QString>("made"); // by bash, in the folder beside the images
    QTest::addColumn<QString>("said");
    const QString notRegular = "Not a regular file: SHA256SUMS";
    QTest::newRow("a FIFO") << "mkfifo SHA256SUMS" << notRegular;
    QTest::newRow("a link to /dev/zero") << "ln -s /dev/zero SHA256SUMS" << notRegular;
    QTest::newRow("a folder") << "mkdir SHA256SUMS" << notRegular;
    QTest::newRow("1 GiB, sparse") << "truncate -s 1G SHA256SUMS"
                                   << "SHA256SUMS is larger than 65536 bytes";
    QTest::newRow("two spellings") << "touch SHA256SUMS sha256sums"
                                   << "SHA256SUMS and sha256sums are two spellings";
}

void CliProcessTest::manifestThatIsNoList() {
    QFETCH(QString, made);
    QFETCH(QString, said);
    QTemporaryDir folder;
    const Ended run = runTool(
        {"check", "."},
        QString("cd %1 && ln -s %2/* . && %3").arg(folder.path(), dir_.path() + "/firmware", made));
    QVERIFY2(run.ended, "still running after 10 s");
    QCOMPARE(run.code, 2);
    QVERIFY2(run.said.contains(said.toUtf8()), run.said.constData());
    // Never read whole: a gigabyte of it would show here.
    QVERIFY2(run.maxRssKb < 256 * 1024, QByteArray::number(qlonglong(run.maxRssKb)));
}

// A folder is its bytes: one of any name can be checked and installed; every
// name said is shown so that no byte of it acts on the terminal.
void CliProcessTest::namesAsBytes_data() {
    QTest::addColumn<QString>("folder"); // made with the images, unless "-"
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("shown");
    QTest::newRow("not UTF-8, checked")
        << "fw\\xff" << QStringList{"check", "fw\\xff"} << 0 << QByteArray("fw\\xff:");
    QTest::newRow("a surrogate's bytes, installed")
        << "fw\\xed\\xa0\\x80" << QStringList{"install", "fw\\xed\\xa0\\x80", "--yes"} << 0
        << QByteArray("fw\\xed\\xa0\\x80:");
    QTest::newRow("no such folder, escape sequences in its name")
        << "-" << QStringList{"check", "fw\\x1b[2J\\xc2\\x9b"} << 2
        << QByteArray("fw\\x1b[2J\\x9b does not exist.");
    QTest::newRow("a report with a bell in its name")
        << "fw" << QStringList{"install", "fw", "--yes", "--report", "no/r\\x07"} << 1
        << QByteArray("no/r\\x07 cannot be written");
}

void CliProcessTest::namesAsBytes() {
    QFETCH(QString, folder);
    QFETCH(QStringList, args);
    QFETCH(int, code);
    QFETCH(QByteArray, shown);
    QTemporaryDir dir;
    qputenv("UPDATER_VIRTUAL_CALCULATOR", "units=1");
    // Made from its bytes by bash, in the folder the tool starts in.
    const QString make = R"sh(cd %1 && f=$(printf %b '%2') && { [ "$f" = - ] ||
                              { mkdir "$f" && ln -s %3/* "$f"; }; })sh";
    const Ended run = runTool(args, make.arg(dir.path(), folder, dir_.path() + "/firmware"));
    QProcess::execute("bash", {"-c", "rm -rf " + dir.path() + "/*"}); // Qt cannot name it
    QVERIFY2(run.ended, "still running after 10 s");
    QCOMPARE(run.code, code);
    QVERIFY2(run.said.contains(shown), run.said.constData());
    QVERIFY2(!QString::fromUtf8(run.said).contains(
                 QRegularExpression("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]")),
             run.said.constData());
}

QTEST_GUILESS_MAIN(CliProcessTest)
#include "cli_process_test.moc"
