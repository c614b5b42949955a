// Faults from the calculator, the firmware files, the settings and the string
// modules. In none of them may the updater crash, hang, or report success for
// a file that did not arrive.
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "firmware_fixture.h"
#include "strings/res_cache.h"
#include "strings/res_module.h"
#include "strings/res_string.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace {

QList<FirmwareImage> makeFirmware(const QString& dir) {
    const int sizes[3] = {200000, 70000, 16384 * 5 + 3};
    return makeFirmware(dir, sizes, 3);
}

// Runs a dialog on folder until its run ends (progress bar hidden). Returns
// the status texts shown after each file's result.
QStringList runToEnd(CCalcFWUpdateMSDialog& dialog, int timeoutMs = 60000) {
    QStringList results;
    QObject::connect(dialog.worker, &CUpdateWorker::updaterRan, &dialog,
                     [&](int) { results << dialog.statusLabel->text(); });
    dialog.show();
    dialog.scanFirmwareFolder();
    QElapsedTimer clock;
    clock.start();
    while (dialog.progressBar->isVisible() && clock.elapsed() < timeoutMs)
        QTest::qWait(10);
    // The last result's own queued call may still wait behind the dialog's slot
    // that ended the run.
    QCoreApplication::sendPostedEvents();
    return results;
}

int successes(const QStringList& results) {
    return static_cast<int>(std::count_if(results.begin(), results.end(), [](const QString& r) {
        return r.startsWith("Update OK") || r == "Done";
    }));
}

} // namespace

class FaultInjectionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void diskVanishesMidTransfer();
    void progressNeverAnswered();
    void writesRefusedAtOnePosition();
    void oneOfThreeDisksUnopenable();
    void firmwareDeletedAfterScan();
    void firmwareUnreadable();
    void workFolderIsAFile();
    void settingsHoldGarbage();
    void truncatedModules();

private:
    QTemporaryDir firmwareDir_;
    QList<FirmwareImage> images_;
};

void FaultInjectionTest::initTestCase() {
    pacing::testing::setDivisor(25);
    images_ = makeFirmware(firmwareDir_.path());
}

void FaultInjectionTest::cleanup() {
    virtual_calculator::uninstall();
}

void FaultInjectionTest::diskVanishesMidTransfer() {
    virtual_calculator::install({});
    // Unplugged after five data writes of the first file, back 2 s later.
    virtual_calculator::vanishAfterWrites(0, 5, 2000);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    // What the window says first of the failure: an unplug is an unplug,
    // not the write error its leaving caused.
    QString firstSaid;
    connect(dialog.worker, &CUpdateWorker::updaterRan, &dialog, [&](int code) {
        if (code != 0 && firstSaid.isEmpty())
            firstSaid = dialog.spareLabel2->text();
    });
    const QStringList results = runToEnd(dialog);
    QVERIFY2(results.size() == 4, qPrintable(results.join(" | ")));
    QCOMPARE(results.first(), QStringLiteral("Update failed (104), Retry: 1"));
    QVERIFY2(
        firstSaid.startsWith("serial 00000000 was disconnected: connect it again in update mode"),
        qPrintable(firstSaid));
    QCOMPARE(results.mid(1), QStringList({"Update OK (0)", "Update OK (0)", "Done"}));
    for (const FirmwareImage& image : images_)
        QVERIFY2(unitHolds(0, image), qPrintable(image.name));
}

void FaultInjectionTest::progressNeverAnswered() {
    virtual_calculator::Options options;
    options.progressUnanswered = true;
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    QCOMPARE(runToEnd(dialog), QStringList({"Update OK (0)", "Update OK (0)", "Done"}));
    for (const FirmwareImage& image : images_)
        QVERIFY(unitHolds(0, image));
}

void FaultInjectionTest::writesRefusedAtOnePosition() {
    virtual_calculator::Options options;
    options.refuseWriteAt = 0x100000 + 16384; // second chunk of the master image
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    const QStringList results = runToEnd(dialog);
    QCOMPARE(results.size(), 7);
    QCOMPARE(results.first(), QStringLiteral("Update OK (0)"));
    QCOMPARE(results.last(), QStringLiteral("Update failed (112)"));
    QCOMPARE(successes(results), 1);
    QVERIFY(dialog.isVisible());
    QVERIFY(!unitHolds(0, images_[1]));
}

void FaultInjectionTest::oneOfThreeDisksUnopenable() {
    virtual_calculator::Options options;
    options.units = 3;
    options.unopenableUnit = 1;
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    const QStringList results = runToEnd(dialog);
    // Six attempts for the one that cannot be opened; the two others go on
    // with the other files, and no line reads "OK" for the run.
    QCOMPARE(results.size(), 8);
    QCOMPARE(results.last(), QStringLiteral("Update failed (107)"));
    QCOMPARE(successes(results), 0);
    for (const FirmwareImage& image : images_) {
        QVERIFY(unitHolds(0, image));
        QVERIFY(unitHolds(2, image));
        QVERIFY(!unitHolds(1, image));
    }
}

void FaultInjectionTest::firmwareDeletedAfterScan() {
    QTemporaryDir dir;
    const QList<FirmwareImage> images = makeFirmware(dir.path());
    virtual_calculator::install({});
    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    connect(dialog.worker, &CUpdateWorker::downloadActive, this,
            [&] { QFile::remove(dir.path() + "/VELA_MAIN.DAT"); });
    const QStringList results = runToEnd(dialog);
    QCOMPARE(results.size(), 7);
    QCOMPARE(results.first(), QStringLiteral("Update OK (0)"));
    QCOMPARE(results.last(), QStringLiteral("Update failed (105)"));
    QCOMPARE(successes(results), 1);
    QVERIFY(!dialog.spareLabel2->text().isEmpty());
}

// Root reads any file, so this case runs the test binary again as nobody.
void FaultInjectionTest::firmwareUnreadable() {
#ifdef Q_OS_WIN
    QSKIP("QFile cannot take the read right from the owner on Windows");
#else
    if (::geteuid() == 0) {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                QCoreApplication::applicationFilePath(), "-platform", "offscreen",
                                "firmwareUnreadable"});
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : FaultInjectionTest::firmwareUnreadable()"),
                 output.constData());
        return;
    }
    QTemporaryDir dir;
    makeFirmware(dir.path());
    QVERIFY(QFile::setPermissions(dir.path() + "/VELA_APP.DAT", QFileDevice::WriteOwner));
    QFile probe(dir.path() + "/VELA_APP.DAT");
    QVERIFY(!probe.open(QIODevice::ReadOnly)); // really unreadable for this user
    virtual_calculator::install({});
    // Read whole as it is checked: refused before any calculator is looked for.
    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    dialog.scanFirmwareFolder();
    QTRY_COMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY2(dialog.spareLabel2->text().startsWith("VELA_APP.DAT cannot be read: ") &&
                 dialog.spareLabel2->text().contains("Permission denied"),
             qPrintable(dialog.spareLabel2->text()));
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
#endif
}

void FaultInjectionTest::workFolderIsAFile() {
    virtual_calculator::install({});
    const QString file = firmwareDir_.path() + "/VELA_OS.ROM";
    CCalcFWUpdateMSDialog dialog(file, 1);
    dialog.show();
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY(dialog.browseButton->isVisible());
    QVERIFY(dialog.fileList.isEmpty());
    QCOMPARE(virtual_calculator::writtenExtent(0), std::uint64_t(0));
}

void FaultInjectionTest::settingsHoldGarbage() {
    // The settings file of the suite, under this test's own configuration folder.
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QVERIFY(config.startsWith(QDir::tempPath()) || qEnvironmentVariableIsSet("XDG_CONFIG_HOME"));
    QDir().mkpath(config + "/Orvane");
    QFile settings(config + "/Orvane/Quillon.conf");
    QVERIFY(settings.open(QIODevice::WriteOnly));
    QByteArray garbage(4096, Qt::Uninitialized);
    QRandomGenerator rng(42);
    for (char& c : garbage)
        c = static_cast<char>(rng.generate());
    settings.write("[General]\nLanguage=@Variant(\\0\\0\\0\\x7f\\0\\0\\0\\x18)\nWorkFolder=");
    settings.write(garbage);
    settings.close();

    CCalcFWUpdateMSDialog dialog(QString(), 1);
    QVERIFY(dialog.language >= 1 && dialog.language <= 8);
    QVERIFY(dialog.workFolder.endsWith("/Firmware"));
    dialog.show();
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
}

// Every prefix of a shipped module, read in place of the module: the lookup
// gives the module's text or nothing, never anything else, and never crashes.
void FaultInjectionTest::truncatedModules() {
    QFile file(QStringLiteral(SHIPPED_MODULES_DIR "/HelpDe.orvaneresource"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    QVERIFY(whole.size() > 100);
    const std::uint32_t ids[] = {0x2,   0x14,  0x209, 0x26E, 0x273,
                                 0x277, 0x279, 0x291, 0x2E8, 0x1E5E};

    auto readFrom = [](const QByteArray& bytes) {
        return [bytes](const char16_t*, std::vector<std::uint8_t>& out, std::int64_t start,
                       std::int64_t end) -> std::int64_t {
            out.clear();
            const std::int64_t bound = std::min<std::int64_t>(end, bytes.size());
            if (start < 0 || start >= bound)
                return 0;
            out.assign(bytes.begin() + start, bytes.begin() + bound);
            return bound - start;
        };
    };
    QStringList full;
    testing::resetStringResources();
    testing::setResourceReader(readFrom(whole));
    for (std::uint32_t id : ids) {
        const char16_t* text = getResString(id, 4);
        QVERIFY(text);
        full << QString::fromUtf16(text);
    }
    int found = 0;
    for (int length = 0; length < whole.size(); ++length) {
        testing::resetStringResources();
        testing::setResourceReader(readFrom(whole.left(length)));
        for (size_t i = 0; i < std::size(ids); ++i) {
            const char16_t* text = getResString(ids[i], 4);
            if (text) {
                ++found;
                QCOMPARE(QString::fromUtf16(text), full[int(i)]);
            }
        }
    }
    testing::setResourceReader({});
    testing::resetStringResources();
    QVERIFY(found < int(std::size(ids)) * whole.size());
}

int main(int argc, char** argv) {
    // A configuration folder of its own, whoever runs it: the garbage
    // settings it writes stay there, never in the runner's.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication application(argc, argv);
    FaultInjectionTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "fault_injection_test.moc"
