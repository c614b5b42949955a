// Which files of a folder become the update, in which order, at which offsets.
#include "device/pacing.h"
#include "firmware/firmware_scan.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Creates entries in dir: a trailing "/" makes a folder, anything else a file
// holding its own name.
void populate(const QString& dir, const QStringList& entries) {
    for (const QString& entry : entries) {
        if (entry.endsWith('/')) {
            QVERIFY(QDir(dir).mkpath(entry));
        } else {
            QFile file(dir + '/' + entry);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(entry.toUtf8());
        }
    }
}

QString describe(const FirmwareFileList& files) {
    QStringList parts;
    for (const FirmwareFile& f : files)
        parts << QStringLiteral("%1@%2").arg(QFileInfo(f.path).fileName()).arg(f.diskOffset, 0, 16);
    return parts.join(' ');
}

} // namespace

class FirmwareScanTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { pacing::setTestDivisor(50); }
    void scan_data();
    void scan();
    void missingFolderOffersBrowse();
    void secondScanReplacesList();
    void pathHandedToWorker();
    void zeroLengthFileAccepted();
};

void FirmwareScanTest::scan_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("newScheme");
    QTest::addColumn<QString>("expected"); // empty: no update available

    const QString newSet = "VELA_APP.DAT@500000 VELA_MAIN.DAT@100000 VELA_OS.ROM@0";
    const QString legacySet = "PROGPACK.DAT@500000 SYSIMAGE.ROM@0 TABLES.DAT@100000";
    QTest::newRow("new scheme") << QStringList{"VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"}
                                << true << newSet;
    QTest::newRow("legacy scheme")
        << QStringList{"TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT"} << false << legacySet;
    QTest::newRow("all six names: new scheme wins")
        << QStringList{"TABLES.DAT",  "SYSIMAGE.ROM",  "PROGPACK.DAT",
                       "VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"}
        << true << newSet;
    QTest::newRow("legacy set plus one new name is never mixed")
        << QStringList{"TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT", "VELA_OS.ROM"} << true
        << QString();
    QTest::newRow("names in any case, case kept in the path")
        << QStringList{"vela_app.dat", "Vela_Main.Dat", "VELA_os.rom"} << true
        << "vela_app.dat@500000 Vela_Main.Dat@100000 VELA_os.rom@0";
    QTest::newRow("sub-folder with a firmware name")
        << QStringList{"VELA_APP.DAT/", "TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT"} << false
        << legacySet;
    QTest::newRow("unrelated files ignored")
        << QStringList{"readme.txt", "VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT", "x.bin"}
        << true << newSet;
    QTest::newRow("dot file is not a firmware name")
        << QStringList{".VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"} << true << QString();
    QTest::newRow("two of three") << QStringList{"VELA_MAIN.DAT", "VELA_APP.DAT"} << true
                                  << QString();
    QTest::newRow("empty folder") << QStringList{} << false << QString();
    QTest::newRow("one role twice, another missing")
        << QStringList{"VELA_APP.DAT", "vela_app.dat", "VELA_OS.ROM"} << true << QString();
    QTest::newRow("every role twice")
        << QStringList{"VELA_APP.DAT", "vela_app.dat",  "VELA_OS.ROM",
                       "vela_os.rom",  "VELA_MAIN.DAT", "vela_main.dat"}
        << true << QString();
}

void FirmwareScanTest::scan() {
    QFETCH(QStringList, entries);
    QFETCH(bool, newScheme);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    populate(dir.path(), entries);
    // Windows file systems fold case: "vela_app.dat" is then "VELA_APP.DAT".
    const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
    if (QDir(dir.path()).entryList(all).size() < entries.size())
        QSKIP("names that differ only in case are one file here");

    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.newNamingScheme, newScheme);
    if (expected.isEmpty()) {
        QVERIFY(dialog.fileList.isEmpty());
        QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
        QVERIFY(!dialog.browseButton->isHidden());
        QVERIFY(dialog.cancelButton->isHidden());
    } else {
        QCOMPARE(describe(dialog.fileList), expected);
        QCOMPARE(dialog.currentIndex, 0);
        QVERIFY(dialog.browseButton->isHidden());
        QCOMPARE(dialog.fileLabel->text(), dialog.fileList.at(0).path);
    }
}

void FirmwareScanTest::missingFolderOffersBrowse() {
    CCalcFWUpdateMSDialog dialog(QStringLiteral("/nonexistent/firmware/folder"), 1);
    dialog.show();
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY(dialog.browseButton->isVisible());
    QVERIFY(!dialog.progressBar->isVisible());
}

void FirmwareScanTest::secondScanReplacesList() {
    QTemporaryDir incomplete, complete;
    populate(incomplete.path(), {"VELA_APP.DAT", "VELA_OS.ROM"});
    populate(complete.path(), {"PROGPACK.DAT", "SYSIMAGE.ROM", "TABLES.DAT"});
    CCalcFWUpdateMSDialog dialog(incomplete.path(), 1);
    dialog.scanFirmwareFolder();
    QVERIFY(dialog.fileList.isEmpty());
    dialog.workFolder = complete.path();
    dialog.scanFirmwareFolder();
    QCOMPARE(describe(dialog.fileList), "PROGPACK.DAT@500000 SYSIMAGE.ROM@0 TABLES.DAT@100000");
    QCOMPARE(dialog.currentIndex, 0);
    QVERIFY(dialog.browseButton->isHidden());
    QCOMPARE(dialog.worker->filePath(), dialog.fileList.at(0).path);
}

void FirmwareScanTest::pathHandedToWorker() {
    QTemporaryDir dir;
    populate(dir.path(), {"VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"});
    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    dialog.scanFirmwareFolder();
    const QString expected =
        QDir::toNativeSeparators(QDir(dir.path()).absoluteFilePath("VELA_APP.DAT"));
    QCOMPARE(dialog.fileLabel->text(), expected);
    QCOMPARE(dialog.worker->filePath(), expected);
    QCOMPARE(dialog.worker->diskOffset(), std::uint64_t(0x500000));
    QVERIFY(QFile::exists(dialog.worker->filePath())); // the worker can open what it gets
}

void FirmwareScanTest::zeroLengthFileAccepted() {
    QTemporaryDir dir;
    populate(dir.path(), {"VELA_MAIN.DAT", "VELA_APP.DAT"});
    QFile empty(dir.path() + "/VELA_OS.ROM");
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(scanFirmwareFiles(dir.path()).files.size(), 3);
}

QTEST_MAIN(FirmwareScanTest)
#include "firmware_scan_test.moc"
