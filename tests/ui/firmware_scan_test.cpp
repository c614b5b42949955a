// Which files of a folder become the update, in which order, at which offsets.
#include "base/pacing.h"
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

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

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
    void initTestCase() { pacing::testing::setDivisor(50); }
    void everyProblemHasAdvice();
    void scan_data();
    void scan();
    void missingFolderOffersBrowse();
    void secondScanReplacesList();
    void pathHandedToWorker();
    void zeroLengthFileAccepted();
    void untrustedFiles_data();
    void untrustedFiles();
};

void FirmwareScanTest::scan_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<bool>("newScheme");
    QTest::addColumn<QString>("expected"); // empty: no update available
    QTest::addColumn<QString>("said");     // then in the fourth line

    const QString newSet = "VELA_APP.DAT@500000 VELA_MAIN.DAT@100000 VELA_OS.ROM@0";
    const QString legacySet = "PROGPACK.DAT@500000 SYSIMAGE.ROM@0 TABLES.DAT@100000";
    QTest::newRow("new scheme") << QStringList{"VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"}
                                << true << newSet << QString();
    QTest::newRow("legacy scheme") << QStringList{"TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT"}
                                   << false << legacySet << QString();
    QTest::newRow("all six names: new scheme wins")
        << QStringList{"TABLES.DAT",  "SYSIMAGE.ROM",  "PROGPACK.DAT",
                       "VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"}
        << true << newSet << QString();
    QTest::newRow("legacy set plus one new name is never mixed")
        << QStringList{"TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT", "VELA_OS.ROM"} << true
        << QString() << "holds no firmware set: VELA_APP.DAT, VELA_MAIN.DAT is missing";
    QTest::newRow("names in any case, case kept in the path")
        << QStringList{"vela_app.dat", "Vela_Main.Dat", "VELA_os.rom"} << true
        << "vela_app.dat@500000 Vela_Main.Dat@100000 VELA_os.rom@0" << QString();
    QTest::newRow("sub-folder with a firmware name")
        << QStringList{"VELA_APP.DAT/", "TABLES.DAT", "SYSIMAGE.ROM", "PROGPACK.DAT"} << false
        << legacySet << QString();
    QTest::newRow("unrelated files ignored")
        << QStringList{"readme.txt", "VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT", "x.bin"}
        << true << newSet << QString();
    QTest::newRow("dot file is not a firmware name")
        << QStringList{".VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"} << true << QString()
        << "holds no firmware set: VELA_OS.ROM is missing.";
    QTest::newRow("two of three") << QStringList{"VELA_MAIN.DAT", "VELA_APP.DAT"} << true
                                  << QString() << "VELA_OS.ROM is missing.";
    QTest::newRow("empty folder") << QStringList{} << false << QString()
                                  << "holds no firmware set: it needs VELA_APP.DAT";
    QTest::newRow("one role twice, another missing")
        << QStringList{"VELA_APP.DAT", "vela_app.dat", "VELA_OS.ROM"} << true << QString()
        << "VELA_APP.DAT and vela_app.dat are two names of one image";
    // (Each file holds its own name: not a line of sha256sum's.)
    QTest::newRow("a SHA256SUMS that cannot be read")
        << QStringList{"VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT", "SHA256SUMS"} << true
        << QString() << "SHA256SUMS cannot be read (line 1).";
    QTest::newRow("every role twice")
        << QStringList{"VELA_APP.DAT", "vela_app.dat",  "VELA_OS.ROM",
                       "vela_os.rom",  "VELA_MAIN.DAT", "vela_main.dat"}
        << true << QString() << "two names of one image";
}

void FirmwareScanTest::scan() {
    QFETCH(QStringList, entries);
    QFETCH(bool, newScheme);
    QFETCH(QString, expected);
    QFETCH(QString, said);
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
        // What SHA256SUMS says is known once the images are read, off the
        // GUI thread; what the names say, at once.
        QTRY_VERIFY(dialog.fileList.isEmpty());
        QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
        // The fourth line says what is wrong, naming the folder or the files.
        QVERIFY2(dialog.spareLabel2->text().contains(said), qPrintable(dialog.spareLabel2->text()));
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
    // Handed to the worker once the set is read whole.
    QTRY_COMPARE(worker::testing::filePath(*dialog.worker), dialog.fileList.at(0).path);
}

void FirmwareScanTest::pathHandedToWorker() {
    QTemporaryDir dir;
    populate(dir.path(), {"VELA_OS.ROM", "VELA_MAIN.DAT", "VELA_APP.DAT"});
    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    dialog.scanFirmwareFolder();
    const QString expected =
        QDir::toNativeSeparators(QDir(dir.path()).absoluteFilePath("VELA_APP.DAT"));
    QCOMPARE(dialog.fileLabel->text(), expected);
    QTRY_COMPARE(worker::testing::filePath(*dialog.worker), expected);
    QCOMPARE(worker::testing::diskOffset(*dialog.worker), std::uint64_t(0x500000));
    QVERIFY(QFile::exists(
        worker::testing::filePath(*dialog.worker))); // the worker can open what it gets
}

void FirmwareScanTest::zeroLengthFileAccepted() {
    QTemporaryDir dir;
    populate(dir.path(), {"VELA_MAIN.DAT", "VELA_APP.DAT"});
    QFile empty(dir.path() + "/VELA_OS.ROM");
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QCOMPARE(scanFirmwareFiles(dir.path()).files.size(), 3);
}

// Each row: the name that is made special, what it is made into, and the start
// of the text the fourth label shows (null: the set is accepted).
void FirmwareScanTest::untrustedFiles_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("special");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("problem");
    const QStringList fresh{"VELA_APP.DAT", "VELA_MAIN.DAT", "VELA_OS.ROM"};
    const QStringList legacy{"PROGPACK.DAT", "TABLES.DAT", "SYSIMAGE.ROM"};
    QTest::newRow("link to a regular file") << fresh << "VELA_OS.ROM"
                                            << "link to file" << qint64(0) << QString();
    QTest::newRow("link to /dev/zero")
        << fresh << "VELA_OS.ROM"
        << "link to /dev/zero" << qint64(0) << "Not a regular file: VELA_OS.ROM";
    QTest::newRow("link to a FIFO")
        << fresh << "VELA_MAIN.DAT"
        << "link to fifo" << qint64(0) << "Not a regular file: VELA_MAIN.DAT";
    QTest::newRow("FIFO") << fresh << "VELA_MAIN.DAT"
                          << "fifo" << qint64(0) << "Not a regular file: VELA_MAIN.DAT";
    QTest::newRow("link to a folder")
        << fresh << "VELA_APP.DAT"
        << "link to folder" << qint64(0) << "Not a regular file: VELA_APP.DAT";
    QTest::newRow("link loop") << fresh << "VELA_OS.ROM"
                               << "link loop" << qint64(0)
                               << "VELA_OS.ROM is a link that leads to no file";
    QTest::newRow("system image fills its place") << fresh << "VELA_OS.ROM"
                                                  << "size" << qint64(0x100000) << QString();
    QTest::newRow("system image one byte too large")
        << fresh << "VELA_OS.ROM"
        << "size" << qint64(0x100001)
        << "VELA_OS.ROM is 1 bytes too large (1048577 bytes; at most 1048576";
    QTest::newRow("legacy system image of 2 MiB")
        << legacy << "SYSIMAGE.ROM"
        << "size" << qint64(0x200000) << "SYSIMAGE.ROM is 1048576 bytes too large";
    QTest::newRow("master image fills its place") << fresh << "VELA_MAIN.DAT"
                                                  << "size" << qint64(0x400000) << QString();
    QTest::newRow("master image one byte too large")
        << legacy << "TABLES.DAT"
        << "size" << qint64(0x400001)
        << "TABLES.DAT is 1 bytes too large (4194305 bytes; at most 4194304";
    QTest::newRow("application image has no bound") << fresh << "VELA_APP.DAT"
                                                    << "size" << qint64(0x2000000) << QString();
}

void FirmwareScanTest::untrustedFiles() {
    QFETCH(QStringList, names);
    QFETCH(QString, special);
    QFETCH(QString, kind);
    QFETCH(qint64, size);
    QFETCH(QString, problem);
    QTemporaryDir dir, elsewhere;
    QStringList plain = names;
    plain.removeOne(special);
    populate(dir.path(), plain);
    const QString path = dir.path() + '/' + special;
    if (kind == "size") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(size)); // sparse: the size is what counts
    } else {
#ifdef Q_OS_WIN
        QSKIP("links and FIFOs are made with POSIX calls");
#else
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "link to fifo") {
            const QString fifo = elsewhere.path() + "/fifo";
            QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
            QVERIFY(QFile::link(fifo, path));
        } else if (kind == "link to /dev/zero") {
            QVERIFY(QFile::link("/dev/zero", path));
        } else if (kind == "link to folder") {
            QVERIFY(QFile::link(elsewhere.path(), path));
        } else if (kind == "link loop") {
            QVERIFY(QFile::link(path, path));
        } else {
            populate(elsewhere.path(), {"target"});
            QVERIFY(QFile::link(elsewhere.path() + "/target", path));
        }
#endif
    }

    CCalcFWUpdateMSDialog dialog(dir.path(), 1);
    dialog.scanFirmwareFolder();
    if (problem.isNull()) {
        QCOMPARE(dialog.fileList.size(), 3);
        QVERIFY(dialog.spareLabel2->text().isEmpty());
        return;
    }
    QVERIFY(dialog.fileList.isEmpty());
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY2(dialog.spareLabel2->text().startsWith(problem),
             qPrintable(dialog.spareLabel2->text()));
}

// Every reason a folder gives no update comes with what to do about it.
void FirmwareScanTest::everyProblemHasAdvice() {
    for (int kind = ScanProblem::NotAFolder; kind <= ScanProblem::ManifestTooLarge; ++kind) {
        ScanProblem problem;
        problem.kind = static_cast<ScanProblem::Kind>(kind);
        QVERIFY2(scanAdvice(problem).advice != Advice::None, qPrintable(QString::number(kind)));
    }
    // Of two spellings, the one to delete is the one not spelt as the set's.
    ScanProblem twice;
    twice.kind = ScanProblem::TwoSpellings;
    twice.name = QStringLiteral("VELA_OS.ROM");
    twice.other = QStringLiteral("vela_os.rom");
    QCOMPARE(scanAdvice(twice).arg, QStringLiteral("vela_os.rom"));
    std::swap(twice.name, twice.other);
    QCOMPARE(scanAdvice(twice).arg, QStringLiteral("vela_os.rom"));
}

QTEST_MAIN(FirmwareScanTest)
#include "firmware_scan_test.moc"
