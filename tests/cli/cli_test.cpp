// vela-update's commands run in this process against the virtual calculator,
// with the pauses divided; the process around them (signals, a terminal) is
// tested on the real binary in cli_process_test.
#include "base/pacing.h"
#include "cli/reporter.h"
#include "cli/update_report.h"
#include "cli/vela_update.h"
#include "device/virtual/virtual_calculator.h"
#include "tests/ui/firmware_fixture.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run {
    int code = -1;
    QString out;
    QString err;
    QList<QJsonObject> events; // stdout's lines, when every one parsed
    bool everyLineParsed = true;
};

// Called when the tool asks for its confirmation, before the answer is given.
std::function<void()> onPrompt;
// Ctrl-C presses, as the process counts them.
std::atomic<int> presses{0};

Run vela(const QStringList& args, bool stdinIsTerminal = false, const QString& answer = {},
         bool stdoutIsTerminal = false, int columns = 0) {
    Run run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    CliEnvironment env;
    env.out = &out;
    env.err = &err;
    env.stdinIsTerminal = stdinIsTerminal;
    env.stdoutIsTerminal = stdoutIsTerminal;
    env.terminalColumns = columns;
    env.interrupts = &presses;
    env.readLine = [answer](QString& line) {
        if (onPrompt)
            onPrompt();
        line = answer;
        return !answer.isNull();
    };
    run.code = runVelaUpdate(args, env);
    out.flush();
    err.flush();
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        // Strict parsers (RFC 8259) take neither lone surrogates nor their escapes.
        const bool strict = !line.contains(QRegularExpression("\\\\u[dD][89a-fA-F]")) &&
                            QString::fromUtf8(line.toUtf8()) == line;
        if (error.error != QJsonParseError::NoError || !doc.isObject() || !strict ||
            !doc.object().value("event").isString()) {
            run.everyLineParsed = false;
            continue;
        }
        run.events.append(doc.object());
    }
    return run;
}

// Attaches the virtual calculator its options text describes.
bool attach(const QString& text, virtual_calculator::Options& options) {
    std::string error;
    if (!virtual_calculator::parseOptions(text.toStdString(), options, error))
        return false;
    virtual_calculator::install(options);
    return true;
}

QString unitName(int unit) {
    return QStringLiteral("%1").arg(unit, 8, 10, QLatin1Char('0'));
}

// calculator -> its summary entry; empty unless the last line is the summary.
QMap<QString, QJsonObject> summaryOf(const Run& run) {
    QMap<QString, QJsonObject> entries;
    if (run.events.isEmpty() || run.events.last().value("event").toString() != "summary")
        return entries;
    for (const QJsonValue& value : run.events.last().value("calculators").toArray())
        entries.insert(value.toObject().value("calculator").toString(), value.toObject());
    return entries;
}

int countEvents(const Run& run, const QString& event) {
    int n = 0;
    for (const QJsonObject& object : run.events)
        n += object.value("event").toString() == event;
    return n;
}

} // namespace

class CliTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void installWritesEveryCalculator_data();
    void installWritesEveryCalculator();
    void oneRefusingCalculatorFailsAlone();
    void unpluggedMidRun_data();
    void unpluggedMidRun();
    void stationAtADesk_data();
    void stationAtADesk();
    void noClaimThatDidNotHappen_data();
    void noClaimThatDidNotHappen();
    void confirmationOnATerminal_data();
    void confirmationOnATerminal();
    void imageChangedAfterTheCheck_data();
    void imageChangedAfterTheCheck();
    void manifest_data();
    void manifest();
    void reportOfEveryUpdate();
    void reportIsSynced_data();
    void reportIsSynced();
    void jsonTakesEveryControlCharacter();
    void outputWithoutJson_data();
    void outputWithoutJson();
    void listSaysWhyAUnitCannotBeWritten();
    void exitCodes_data();
    void exitCodes();
    void versionNamesTheLicence();
    void textsFitTheWidth_data();
    void textsFitTheWidth();

private:
    QTemporaryDir dir_;
    QList<FirmwareImage> images_;
};

void CliTest::initTestCase() {
    pacing::testing::setDivisor(1000);
    QVERIFY(dir_.isValid());
    QVERIFY(QDir(dir_.path()).mkdir("firmware"));
    QVERIFY(QDir(dir_.path()).mkdir("empty"));
    images_ = makeFirmware(dir_.path() + "/firmware", {70000, 40000, 100000});
}

void CliTest::cleanup() {
    virtual_calculator::uninstall();
    presses = 0;
    pacing::testing::setDivisor(1000);
}

void CliTest::installWritesEveryCalculator_data() {
    QTest::addColumn<QString>("calculator");
    QTest::addColumn<int>("units");
    QTest::newRow("one") << "units=1" << 1;
    QTest::newRow("two") << "units=2" << 2;
    QTest::newRow("sixteen") << "units=16" << 16;
    // Two sessions on two disks, each written once.
    QTest::newRow("two without a serial number") << "units=2,no_serial=1" << 2;
}

void CliTest::installWritesEveryCalculator() {
    QFETCH(QString, calculator);
    QFETCH(int, units);
    virtual_calculator::Options options;
    QVERIFY(attach(calculator, options));
    const Run run = vela({"install", dir_.path() + "/firmware", "--json", "--yes"});
    QCOMPARE(run.code, int(kExitOk));
    QVERIFY2(run.everyLineParsed, qPrintable(run.out));
    QCOMPARE(countEvents(run, "summary"), 1);
    const auto summary = summaryOf(run);
    QVERIFY2(run.events.last().value("ok").toBool(), qPrintable(run.out));
    QCOMPARE(summary.size(), units);
    for (int unit = 0; unit < units; ++unit) {
        const QJsonObject entry = summary.value(
            options.noSerial ? QStringLiteral("port 1-%1").arg(unit + 1) : unitName(unit));
        QVERIFY2(entry.value("ok").toBool() && entry.value("result").toInt(-1) == 0 &&
                     entry.value("files").toInt() == 3,
                 qPrintable(unitName(unit)));
        for (const FirmwareImage& image : images_)
            QVERIFY2(unitHolds(unit, image), qPrintable(unitName(unit) + " " + image.name));
        QCOMPARE(virtual_calculator::finishCount(unit), 1);
        int dataWrites = 0;
        for (const auto& entry : virtual_calculator::trace(unit))
            dataWrites += entry.op == virtual_calculator::Op::Write && entry.command.empty();
        QCOMPARE(dataWrites, 5 + 3 + 7); // each image once: 70000, 40000, 100000 bytes
    }
    QCOMPARE(countEvents(run, "found"), units);
    QCOMPARE(countEvents(run, "file"), 3 * units);
    QCOMPARE(countEvents(run, "finish"), units);
    // Each event names its calculator; progress carries a percentage.
    for (const QJsonObject& event : run.events) {
        if (event.value("event") != "summary" && event.value("event") != "set")
            QVERIFY(event.value("calculator").isString());
        if (event.value("event") == "progress")
            QVERIFY(event.value("percent").isDouble());
    }
}

void CliTest::oneRefusingCalculatorFailsAlone() {
    virtual_calculator::Options options;
    options.units = 3;
    options.refuseWriteAt = 0x100000;
    options.refuseUnit = 1;
    virtual_calculator::install(options);
    const Run run = vela({"install", dir_.path() + "/firmware", "--json", "--yes"});
    QCOMPARE(run.code, int(kExitFailed));
    QVERIFY(run.everyLineParsed);
    QVERIFY(!run.events.last().value("ok").toBool(true));
    const auto summary = summaryOf(run);
    QCOMPARE(summary.size(), 3);
    // What to do next, where something failed: the table's sentence for a write.
    const QString next = "Try another USB cable or port, then start the update again.";
    for (int unit = 0; unit < 3; ++unit) {
        const QJsonObject entry = summary.value(unitName(unit));
        QCOMPARE(entry.value("ok").toBool(), unit != 1);
        QCOMPARE(entry.value("result").toInt(), unit == 1 ? 112 : 0);
        QCOMPARE(entry.value("next").toString(), unit == 1 ? next : QString());
    }
    // Five retries of the refused file, on that calculator alone.
    int retries = 0;
    int failures = 0;
    for (const QJsonObject& event : run.events) {
        if (event.value("event") == "retry") {
            QCOMPARE(event.value("calculator").toString(), unitName(1));
            QCOMPARE(event.value("attempt").toInt(), ++retries);
        }
        if (event.value("event") == "file_done" && event.value("code").toInt() != 0)
            failures += event.value("next").toString() == next;
    }
    QCOMPARE(retries, 5);
    QCOMPARE(failures, 6);
    for (const FirmwareImage& image : images_)
        QVERIFY(unitHolds(0, image) && unitHolds(2, image));
}

// Unplugged in its second file: one with a serial is asked for and waited
// for, and its update goes on where it stopped; one without could be
// another calculator when it comes back, and fails at once. Never a retry.
void CliTest::unpluggedMidRun_data() {
    QTest::addColumn<QString>("calculator");
    QTest::addColumn<QString>("wait"); // seconds
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("waits"); // each waiting event's back
    QTest::addColumn<QString>("said");
    QTest::newRow("back after 20 s")
        << "units=1,vanish_after_writes=7,vanish_ms=20000"
        << "30" << int(kExitOk) << "false true"
        << "00000000 was disconnected: connect it again in update mode (waiting up to 30 s).\n"
           "00000000 is connected again: the update goes on.\n";
    QTest::newRow("not back within the wait")
        << "units=1,vanish_after_writes=7,vanish_ms=-1"
        << "5" << int(kExitFailed) << "false"
        << "Connect it again in update mode, then start the update again.";
    QTest::newRow("no serial") << "units=1,no_serial=1,vanish_after_writes=7,vanish_ms=0"
                               << "30" << int(kExitFailed) << ""
                               << "has no serial number and was disconnected";
}

void CliTest::unpluggedMidRun() {
    QFETCH(QString, calculator);
    QFETCH(QString, wait);
    QFETCH(int, code);
    QFETCH(QString, waits);
    QFETCH(QString, said);
    const QString firmware = dir_.path() + "/firmware";
    // The wait polls every 500 ms of test time: kept above nothing.
    pacing::testing::setDivisor(100);
    virtual_calculator::Options options;
    QVERIFY(attach(calculator, options));
    const Run json = vela({"install", firmware, "--json", "--yes", "--wait", wait});
    QCOMPARE(json.code, code);
    QCOMPARE(countEvents(json, "retry"), 0);
    QStringList backs;
    for (const QJsonObject& event : json.events) {
        if (event.value("event") == "waiting" && event.value("reason") == "disconnected")
            backs << (event.value("back").toBool() ? "true" : "false");
    }
    QCOMPARE(backs.join(' '), waits);
    if (code == kExitOk) {
        for (const FirmwareImage& image : images_)
            QVERIFY2(unitHolds(0, image), qPrintable(image.name));
        QCOMPARE(virtual_calculator::finishCount(0), 1);
    }
    QVERIFY(attach(calculator, options));
    const Run plain = vela({"install", firmware, "--yes", "--wait", wait});
    QCOMPARE(plain.code, code);
    QVERIFY2(plain.out.contains(said), qPrintable(plain.out));
}

// What a person at a desk is told: each calculator's end on its line, what to
// do when it failed, and how the station ended.
void CliTest::stationAtADesk_data() {
    QTest::addColumn<QString>("calculator");
    QTest::addColumn<QStringList>("args"); // after the folder
    QTest::addColumn<int>("pressed");      // Ctrl-C before it starts
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("said"); // on stdout, in this order
    // Nothing was written: the normal end, and no table of nothing.
    QTest::newRow("Ctrl-C before any calculator")
        << "absent" << QStringList{} << 1 << int(kExitOk)
        << QStringList{"\nStation ended: no calculator was updated.\n"};
    QTest::newRow("two, one failing, with the bell")
        << "units=2,refuse_write_at=0x100000,refuse_unit=1" << QStringList{"--max", "2", "--bell"}
        << 0 << int(kExitFailed)
        << QStringList{"00000000: updated: unplug it now\a\n",
                       "00000001: failed (112): try another USB cable or port, then start the "
                       "update again.\a\n",
                       "\nStation ended: 1 updated, 1 failed (00000001).\n"};
}

void CliTest::stationAtADesk() {
    QFETCH(QString, calculator);
    QFETCH(QStringList, args);
    QFETCH(int, pressed);
    QFETCH(int, code);
    QFETCH(QStringList, said);
    virtual_calculator::Options options;
    QVERIFY(attach(calculator, options));
    presses = pressed;
    const Run run = vela(QStringList{"station", dir_.path() + "/firmware"} + args);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    int at = 0;
    for (const QString& words : said) {
        at = run.out.indexOf(words, at);
        QVERIFY2(at >= 0, qPrintable(words + "\nnot in\n" + run.out));
    }
    QCOMPARE(run.out.contains("Calculator  "), options.units > 0 && !options.absent);
}

// A run that did not update every calculator never says so: not in the
// summary, not in the exit code.
void CliTest::noClaimThatDidNotHappen_data() {
    QTest::addColumn<QString>("calculator");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on stderr, or in a file_done cause
    // The run never picks 16 of them: it waits, then gives up.
    QTest::newRow("seventeen connected")
        << "units=17" << int(kExitNoCalculator) << "More than 16 calculators are connected (17)";
}

void CliTest::noClaimThatDidNotHappen() {
    QFETCH(QString, calculator);
    QFETCH(int, code);
    QFETCH(QString, said);
    virtual_calculator::Options options;
    QVERIFY(attach(calculator, options));
    const Run run = vela({"install", dir_.path() + "/firmware", "--json", "--yes", "--wait", "1"});
    QCOMPARE(run.code, code);
    QVERIFY(run.everyLineParsed);
    QVERIFY2(run.err.contains(said) || run.out.contains(said), qPrintable(run.err + run.out));
    QVERIFY(run.events.isEmpty() || !run.events.last().value("ok").toBool(false));
    if (code == kExitNoCalculator) {
        for (int unit = 0; unit < options.units; ++unit)
            QVERIFY(virtual_calculator::trace(unit).empty());
    }
}

void CliTest::confirmationOnATerminal_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("code");
    QTest::newRow("yes on a terminal") << true << QString("y") << int(kExitOk);
    QTest::newRow("no on a terminal") << true << QString("n") << int(kExitInterrupted);
    QTest::newRow("end of input on a terminal") << true << QString() << int(kExitInterrupted);
    QTest::newRow("not a terminal: nothing asked") << false << QString() << int(kExitOk);
}

void CliTest::confirmationOnATerminal() {
    QFETCH(bool, terminal);
    QFETCH(QString, answer);
    QFETCH(int, code);
    virtual_calculator::install(virtual_calculator::Options{});
    const Run run = vela({"install", dir_.path() + "/firmware"}, terminal, answer);
    QCOMPARE(run.code, code);
    QCOMPARE(run.out.contains("? [y/N]"), terminal);
    QCOMPARE(virtual_calculator::writtenExtent(0) > 0, code == kExitOk);
}

// The set is fixed when it is checked: an image replaced while the tool asks
// (or waits) writes nothing of the new file beyond what was checked, and the
// run never ends in success.
void CliTest::imageChangedAfterTheCheck_data() {
    QTest::addColumn<int>("newSize"); // of VELA_OS.ROM, checked at 100000 bytes
    QTest::newRow("replaced by a larger image: nothing of it is written") << 6 * 1024 * 1024;
    QTest::newRow("the same size, other bytes") << 100000;
}

void CliTest::imageChangedAfterTheCheck() {
    QFETCH(int, newSize);
    QTemporaryDir folder;
    const QList<FirmwareImage> images = makeFirmware(folder.path(), {70000, 40000, 100000}, 9);
    virtual_calculator::install(virtual_calculator::Options{});
    onPrompt = [&] {
        QFile os(folder.path() + "/VELA_OS.ROM");
        QVERIFY(os.open(QIODevice::WriteOnly | QIODevice::Truncate));
        os.write(QByteArray(newSize, 'x'));
    };
    const Run run = vela({"install", folder.path(), "--json"}, true, "y");
    onPrompt = nullptr;
    QCOMPARE(run.code, int(kExitFailed));
    QVERIFY(run.everyLineParsed);
    QVERIFY(run.out.contains("\"code\":109,\"cause\":\"VELA_OS.ROM changed since "
                             "it was checked\""));
    QVERIFY(!run.events.last().value("ok").toBool(true));
    // The images before it are whole; of the new bytes nothing lies beyond
    // what was checked, and with another size none at all.
    QVERIFY(unitHolds(0, images[0]) && unitHolds(0, images[1]));
    const std::vector<std::uint8_t> os = virtual_calculator::readUnit(0, 0, 100000 + 16384);
    const auto written = std::count(os.begin(), os.end(), std::uint8_t('x'));
    QCOMPARE(written, newSize == 100000 ? 100000 : 0);
    QVERIFY(std::all_of(os.begin() + 100352, os.end(), [](std::uint8_t b) { return b == 0; }));
}

// SHA256SUMS is checked before any calculator is looked for: `check` says what
// install would; the set event says whether a manifest was checked.
void CliTest::manifest_data() {
    QTest::addColumn<QString>("manifest"); // %1 %2 %3: the digests of APP, MAIN, OS
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said");
    QTest::newRow("every image listed, sha256sum's own lines")
        << "%1  VELA_APP.DAT\n%2 *VELA_MAIN.DAT\n%3  VELA_OS.ROM\n"
        << 0 << "\"manifest\":true";
    QTest::newRow("names in another case, other files ignored")
        << "%1  vela_app.dat\n%2  Vela_Main.Dat\n%3  vela_os.rom\n%3  notes.txt\n"
        << 0 << "\"manifest\":true";
    QTest::newRow("a mismatch") << "%1  VELA_APP.DAT\n%1  VELA_MAIN.DAT\n%3  VELA_OS.ROM\n"
                                << 2 << "VELA_MAIN.DAT does not match SHA256SUMS.";
    QTest::newRow("an image not listed") << "%1  VELA_APP.DAT\n%3  VELA_OS.ROM\n"
                                         << 2 << "VELA_MAIN.DAT is not listed in SHA256SUMS";
    QTest::newRow("a line that is not sha256sum's")
        << "%1  VELA_APP.DAT\nVELA_MAIN.DAT %2\n%3  VELA_OS.ROM\n"
        << 2 << "SHA256SUMS cannot be read (line 2)";
    QTest::newRow("a NUL in a name") << "%1  VELA_APP.DAT\n%2  VELA_MAIN.DAT\n%3  VELA_OS.ROM\\0x\n"
                                     << 2 << "SHA256SUMS cannot be read (line 3)";
    QTest::newRow("listed twice, the wrong digest first")
        << "%1  VELA_APP.DAT\n%2  VELA_MAIN.DAT\n%1  VELA_OS.ROM\n%3  VELA_OS.ROM\n"
        << 2 << "VELA_OS.ROM is listed twice in SHA256SUMS";
}

void CliTest::manifest() {
    QFETCH(QString, manifest);
    QFETCH(int, code);
    QFETCH(QString, said);
    QTemporaryDir folder;
    QStringList digests;
    for (const FirmwareImage& image : makeFirmware(folder.path(), {700, 400, 1000}, 3))
        digests << QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex();
    QFile sums(folder.path() + "/SHA256SUMS");
    QVERIFY(sums.open(QIODevice::WriteOnly));
    for (int i = 0; i < digests.size(); ++i)
        manifest.replace(QStringLiteral("%%1").arg(i + 1), digests[i]);
    manifest.replace(QStringLiteral("\\0"), QChar(0));
    sums.write(manifest.toUtf8());
    sums.close();
    virtual_calculator::install(virtual_calculator::Options{});
    const Run check = vela({"check", folder.path(), "--json"});
    QCOMPARE(check.code, code);
    QVERIFY2((check.out + check.err).contains(said), qPrintable(check.out + check.err));
    QVERIFY(!(check.out + check.err).contains("writ", Qt::CaseInsensitive));
    // A set that does not match its list is to be had again; check never
    // speaks of writing.
    QCOMPARE(check.err.contains("\nThe firmware files are damaged or incomplete: download them "
                                "again.\n"),
             code != 0);
    const Run install = vela({"install", folder.path(), "--json", "--yes"});
    QCOMPARE(install.code, code);
    QCOMPARE(virtual_calculator::writtenExtent(0) > 0, code == 0);
    if (code == 0) {
        const QJsonObject set = check.events.first();
        QCOMPARE(set.value("event").toString(), QString("set"));
        QCOMPARE(set.value("images").toArray().at(1).toObject().value("sha256").toString(),
                 digests[1]);
    }
}

// The record of every update: a whole JSON line per calculator session.
void CliTest::reportOfEveryUpdate() {
    virtual_calculator::Options options;
    options.units = 2;
    options.refuseWriteAt = 0x100000;
    options.refuseUnit = 1;
    virtual_calculator::install(options);
    const QString report = dir_.path() + "/report.jsonl";
    const Run run = vela({"install", dir_.path() + "/firmware", "--yes", "--report", report});
    QCOMPARE(run.code, int(kExitFailed));
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3); // two lines and the end of the last
    QMap<QString, QJsonObject> byCalculator;
    for (const QByteArray& line : lines.mid(0, 2)) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        byCalculator.insert(entry.value("serial").toString(), entry);
        QVERIFY(QDateTime::fromString(entry.value("started").toString(), Qt::ISODate).isValid());
        QCOMPARE(entry.value("images").toArray().size(), 3);
    }
    const QJsonObject good = byCalculator.value(unitName(0));
    const QJsonObject bad = byCalculator.value(unitName(1));
    QCOMPARE(good.value("result").toInt(-1), 0);
    QCOMPARE(good.value("finish_sent").toBool(), true);
    QCOMPARE(bad.value("result").toInt(), 112);
    QVERIFY(bad.value("cause").toString().contains("Write Disk File"));
    QCOMPARE(bad.value("next").toString(),
             QString("Try another USB cable or port, then start the update again."));
    QCOMPARE(good.value("next").toString("absent"), QString());
    // What it holds, image by image: the first written, the second failed,
    // the third never tried.
    const QJsonArray images = bad.value("images").toArray();
    QCOMPARE(images.at(0).toObject().value("result").toInt(-1), 0);
    QCOMPARE(images.at(1).toObject().value("result").toInt(), 112);
    QVERIFY(images.at(2).toObject().value("result").isNull());
    // A report that cannot be written is said at once; nothing is touched.
    virtual_calculator::install(virtual_calculator::Options{});
    const Run refused =
        vela({"install", dir_.path() + "/firmware", "--yes", "--report", dir_.path()});
    QCOMPARE(refused.code, int(kExitUsage));
    QVERIFY(refused.err.contains("cannot be written"));
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
}

// A session is over when its line is on the disk: a disk that does not keep
// it fails the session, and the line is not left in the file.
void CliTest::reportIsSynced_data() {
    QTest::addColumn<bool>("kept");
    QTest::newRow("the disk keeps each line") << true;
    QTest::newRow("the disk keeps none") << false;
}

void CliTest::reportIsSynced() {
    QFETCH(bool, kept);
    static std::atomic<int> syncs;
    syncs = 0;
    update_report::testing::setSync(kept ? +[] { return ++syncs > 0; } : +[] { return !++syncs; });
    virtual_calculator::Options options;
    QVERIFY(attach("units=2", options));
    QTemporaryDir dir;
    QFile file(dir.path() + "/report");
    const Run run = vela(
        {"install", dir_.path() + "/firmware", "--json", "--yes", "--report", file.fileName()});
    update_report::testing::setSync(nullptr);
    QCOMPARE(syncs.load(), 2);
    QCOMPARE(run.code, kept ? int(kExitOk) : int(kExitOutput));
    QCOMPARE(run.events.last().value("ok").toBool(!kept), kept);
    QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1, kept ? 2 : 0);
}

// Whatever a name holds, its JSON string is one that strict parsers take.
void CliTest::jsonTakesEveryControlCharacter() {
    for (ushort c = 0; c < 0x20; ++c) {
        const QString text = QStringLiteral("a") + QChar(c) + QStringLiteral("b");
        const QString json = Reporter::jsonString(text);
        QVERIFY2(std::none_of(json.begin(), json.end(), [](QChar u) { return u.unicode() < 0x20; }),
                 qPrintable(QString::number(c)));
        QCOMPARE(QJsonDocument::fromJson('[' + json.toUtf8() + ']').array().at(0).toString(), text);
    }
}

void CliTest::outputWithoutJson_data() {
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("columns");
    QTest::newRow("terminal: lines redrawn in place, width unknown") << true << 0;
    QTest::newRow("terminal of 40 columns: the block cut, sentences wrapped") << true << 40;
    QTest::newRow("no terminal: plain lines") << false << 0;
}

void CliTest::outputWithoutJson() {
    QFETCH(bool, terminal);
    QFETCH(int, columns);
    virtual_calculator::Options options;
    options.units = 2;
    options.refuseWriteAt = 0x100000;
    options.refuseUnit = 1;
    virtual_calculator::install(options);
    const Run run =
        vela({"install", dir_.path() + "/firmware", "--yes"}, false, {}, terminal, columns);
    QCOMPARE(run.code, int(kExitFailed));
    // Cursor movements only on a terminal; a log file gets whole lines.
    QCOMPARE(run.out.contains("\x1b["), terminal);
    QVERIFY(run.events.isEmpty());
    if (!terminal)
        QVERIFY(run.out.contains(unitName(0) + ": VELA_OS.ROM written\n"));
    // Each image with its whole digest beside it, at any width.
    for (const FirmwareImage& image : images_)
        QVERIFY(run.out.contains(
            "sha256 " + QCryptographicHash::hash(image.bytes, QCryptographicHash::Sha256).toHex()));
    // The plan's list keeps its indent, also where a long name wraps it.
    QVERIFY2(run.out.contains("\n  " + unitName(1)), qPrintable(run.out));
    QVERIFY2(!run.out.contains(" \n"), qPrintable(run.out));
    // The summary table: one row per calculator, with its result and time,
    // then why the failed one failed.
    QString shown = run.out;
    shown.remove(QRegularExpression("\r|\x1b\\[[0-9]*[AKJ]"));
    const QStringList lines = shown.split('\n');
    const int header = lines.indexOf(QRegularExpression("^Calculator +Result +Time$"));
    QVERIFY2(header >= 0, qPrintable(run.out));
    QVERIFY(QRegularExpression("^" + unitName(0) + " +ok +[0-9.]+ s$")
                .match(lines.value(header + 1))
                .hasMatch());
    QVERIFY(QRegularExpression("^" + unitName(1) + " +failed \\(112\\) +[0-9.]+ s$")
                .match(lines.value(header + 2))
                .hasMatch());
    QVERIFY(lines.value(header + 4).startsWith(unitName(1) + ": VELA_MAIN.DAT at 0x100000:"));
    // Neither the block's lines (a wrapped one breaks the redraw) nor the
    // summary's sentences reach the terminal's last column.
    QStringList drawn = lines.mid(header);
    for (const QString& part : run.out.split("\x1b[2K").mid(1))
        drawn << part.section('\n', 0, 0);
    for (const QString& line : drawn)
        QVERIFY2(columns == 0 || line.size() < columns, qPrintable(line));
}

void CliTest::listSaysWhyAUnitCannotBeWritten() {
    virtual_calculator::Options options;
    options.units = 2;
    options.unopenableUnit = 1;
    virtual_calculator::install(options);
    const Run plain = vela({"list"});
    QCOMPARE(plain.code, int(kExitOk));
    const QStringList lines = plain.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith(unitName(0)) && lines[0].endsWith("can be written"));
    QVERIFY2(lines[1].startsWith(unitName(1)) &&
                 lines[1].endsWith("cannot be opened for writing: Access is denied."),
             qPrintable(lines[1]));
    const Run json = vela({"list", "--json"});
    QVERIFY(json.everyLineParsed && json.events.size() == 2);
    QCOMPARE(json.events[1].value("writable").toBool(true), false);
    QCOMPARE(json.events[1].value("problem").toString(), QString("Access is denied."));
    QVERIFY(virtual_calculator::trace(0).empty() && virtual_calculator::trace(1).empty());
}

void CliTest::exitCodes_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("calculator");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on stderr; on stdout when the code is 0
    const QString firmware = dir_.path() + "/firmware";
    const QString empty = dir_.path() + "/empty";
    const QString usage = "Try 'vela-update --help'.";
    const QString installUsage = "Try 'vela-update install --help'.";
    QTest::newRow("no command") << QStringList{} << true << int(kExitUsage) << usage;
    QTest::newRow("unknown command") << QStringList{"update"} << true << int(kExitUsage)
                                     << "'update' is not a command. " + usage;
    QTest::newRow("a slip in a command")
        << QStringList{"instal", "--yes"} << true << int(kExitUsage)
        << "vela-update: 'instal' is not a command. Did you mean 'install'?\n";
    QTest::newRow("two letters swapped")
        << QStringList{"lsit"} << true << int(kExitUsage) << "Did you mean 'list'?";
    QTest::newRow("unknown option") << QStringList{"list", "--all"} << true << int(kExitUsage)
                                    << "'--all' is not an option of list.";
    QTest::newRow("install without folder")
        << QStringList{"install", "--yes"} << true << int(kExitUsage) << installUsage;
    QTest::newRow("two folders") << QStringList{"install", firmware, firmware} << true
                                 << int(kExitUsage) << installUsage;
    QTest::newRow("wait not a number") << QStringList{"install", firmware, "--wait", "soon"} << true
                                       << int(kExitUsage) << installUsage;
    QTest::newRow("max of zero") << QStringList{"station", firmware, "--max=0"} << true
                                 << int(kExitUsage) << "Try 'vela-update station --help'.";
    QTest::newRow("--wait is not a station option")
        << QStringList{"station", firmware, "--wait", "3"} << true << int(kExitUsage)
        << "'--wait' is not an option of station.";
    QTest::newRow("help of a command")
        << QStringList{"install", "--help"} << true << int(kExitOk) << "Usage:";
    QTest::newRow("version") << QStringList{"--version"} << true << int(kExitOk) << "License:";
    QTest::newRow("-- ends the options")
        << QStringList{"install", "--yes", "--", firmware} << true << int(kExitOk) << "updated";
    QTest::newRow("after --, an option is an argument")
        << QStringList{"install", "--", firmware, "--yes"} << true << int(kExitUsage)
        << "'--yes' is one argument too many for install.";
    // A failure that is not a mistake of usage says what to do next.
    QTest::newRow("empty folder") << QStringList{"install", empty, "--yes"} << true
                                  << int(kExitNoFirmware)
                                  << "\nChoose the folder that holds the three firmware files.\n";
    QTest::newRow("no such folder")
        << QStringList{"station", empty + "/none"} << true << int(kExitNoFirmware)
        << "none does not exist.\nChoose the folder";
    QTest::newRow("no calculator within the wait")
        << QStringList{"install", firmware, "--yes", "--wait", "0"} << false
        << int(kExitNoCalculator)
        << "no calculator in update mode appeared within 0 s.\nPut the calculator in update "
           "mode and connect it (see the calculator's manual).\n";
    QTest::newRow("list without a calculator")
        << QStringList{"list"} << false << int(kExitNoCalculator)
        << "connected.\nPut the calculator in update mode";
}

void CliTest::exitCodes() {
    QFETCH(QStringList, args);
    QFETCH(bool, calculator);
    QFETCH(int, code);
    QFETCH(QString, said);
    virtual_calculator::Options options;
    options.absent = !calculator;
    virtual_calculator::install(options);
    // Wide enough for every sentence to be one line (textsFitTheWidth wraps them).
    const Run run = vela(args, false, {}, false, 1000);
    QCOMPARE(run.code, code);
    if (code == kExitOk) {
        QVERIFY(run.err.isEmpty());
        QVERIFY2(run.out.contains(said), qPrintable(run.out));
    } else {
        // The tool's sentence on stderr, nothing written anywhere.
        QVERIFY2(run.err.startsWith("vela-update: ") && run.err.contains(said),
                 qPrintable(run.err));
        QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
    }
}

void CliTest::versionNamesTheLicence() {
    const Run run = vela({"install", "--version"});
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("vela-update " UPDATER_VERSION));
    QVERIFY2(lines.value(1).startsWith("License: GPL-3.0-or-later <https://"),
             qPrintable(lines.value(1)));
}

// What the tool says fits the terminal, broken between words only: no line
// reaches its last column, and no word is cut.
void CliTest::textsFitTheWidth_data() {
    QTest::addColumn<QStringList>("args");
    for (const char* help : {"--help", "list", "check", "install", "station", "language"})
        QTest::newRow(help) << (QString(help).startsWith('-') ? QStringList{help}
                                                              : QStringList{help, "--help"});
    QTest::newRow("a long error") << QStringList{
        "check", dir_.path() + "/a folder of firmware that is not here at all"};
    QTest::newRow("a slip in a command") << QStringList{"statoin", "--max=1"};
}

void CliTest::textsFitTheWidth() {
    QFETCH(QStringList, args);
    const auto words = [](const QString& text) { return text.simplified().split(' '); };
    const Run wide = vela(args, false, {}, false, 1000);
    for (const int columns : {60, 100}) {
        const Run run = vela(args, false, {}, false, columns);
        QCOMPARE(run.code, wide.code);
        const QString said = run.out + run.err;
        for (const QString& line : said.split('\n'))
            QVERIFY2(line.size() < columns, qPrintable(line));
        QVERIFY(!said.contains('\t') && !said.contains('\x1f'));
        QCOMPARE(words(said), words(wide.out + wide.err));
    }
}

QTEST_GUILESS_MAIN(CliTest)
#include "cli_test.moc"
