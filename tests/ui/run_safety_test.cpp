// The calculators of a run, seen from the dialog: a calculator that joins
// mid-run is left alone and named, one of the run that leaves is waited for
// and named, and more than 16 hold the run back. With several
// calculators a list names each one with its progress and its result.
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "firmware_fixture.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

// Runs the dialog until its run ends (progress bar hidden); the status text
// after each file's result. onResult is called with the count so far.
QStringList runToEnd(CCalcFWUpdateMSDialog& dialog, const std::function<void(int)>& onResult = {}) {
    QStringList results;
    QObject::connect(dialog.worker, &CUpdateWorker::updaterRan, &dialog, [&](int) {
        results << dialog.statusLabel->text();
        if (onResult)
            onResult(static_cast<int>(results.size()));
    });
    dialog.show();
    dialog.scanFirmwareFolder();
    QElapsedTimer clock;
    clock.start();
    while (dialog.progressBar->isVisible() && clock.elapsed() < 60000)
        QTest::qWait(10);
    QCoreApplication::sendPostedEvents();
    return results;
}

bool touched(int unit) {
    return !virtual_calculator::trace(unit).empty();
}

// The calculator list as "calculator|progress|result", one entry per row.
QStringList listed(const CCalcFWUpdateMSDialog& dialog) {
    QStringList rows;
    for (int i = 0; i < dialog.calculatorList->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = dialog.calculatorList->topLevelItem(i);
        rows << row->text(0) + '|' + row->text(1) + '|' + row->text(2);
    }
    return rows;
}

} // namespace

class RunSafetyTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void calculatorJoiningMidRunIsLeftAlone_data();
    void calculatorJoiningMidRunIsLeftAlone();
    void calculatorWithoutSerialIsNotWaitedFor();
    void seventeenCalculatorsHoldTheRun_data();
    void seventeenCalculatorsHoldTheRun();
    void imageChangedAfterTheCheck_data();
    void imageChangedAfterTheCheck();
    void calculatorListNamesEachResult_data();
    void calculatorListNamesEachResult();

private:
    QTemporaryDir firmwareDir_;
    QList<FirmwareImage> images_;
};

void RunSafetyTest::initTestCase() {
    pacing::testing::setDivisor(25);
    const int sizes[3] = {70001, 40000, 16384 * 3};
    images_ = makeFirmware(firmwareDir_.path(), sizes, 5);
}

void RunSafetyTest::cleanup() {
    virtual_calculator::uninstall();
}

void RunSafetyTest::calculatorJoiningMidRunIsLeftAlone_data() {
    QTest::addColumn<bool>("firstLeaves");
    QTest::newRow("both stay") << false;
    QTest::newRow("the first leaves: waited for, said, then Done") << true;
}

// Unit 1 is plugged in once the first file has arrived on unit 0.
void RunSafetyTest::calculatorJoiningMidRunIsLeftAlone() {
    QFETCH(bool, firstLeaves);
    virtual_calculator::Options options;
    options.units = 2;
    virtual_calculator::install(options);
    virtual_calculator::setPluggedIn(1, false);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    // Unit 0 comes back once the window has said that it is missing.
    QString said;
    connect(dialog.worker, &CUpdateWorker::membersMissing, &dialog,
            [&](const QStringList& missing) {
                if (missing.isEmpty())
                    return;
                said = dialog.spareLabel2->text();
                virtual_calculator::setPluggedIn(0, true);
            });
    const QStringList results = runToEnd(dialog, [&](int count) {
        if (count != 1)
            return;
        if (firstLeaves)
            virtual_calculator::setPluggedIn(0, false);
        virtual_calculator::setPluggedIn(1, true);
    });
    QVERIFY2(!results.isEmpty(), "no result");
    QCOMPARE(results.first(), QStringLiteral("Update OK (0)"));
    QCOMPARE(results.last(), QStringLiteral("Done"));
    QCOMPARE(said.startsWith("serial 00000000 was disconnected: connect it again in update mode"),
             firstLeaves);
    // The finish command goes out on a thread of its own; main waits for it
    // the same way once the window has closed.
    dialog.shutdownWorker();
    QVERIFY2(!touched(1), "the newcomer was written");
    QCOMPARE(virtual_calculator::finishCount(1), 0);
    QVERIFY2(dialog.spareLabel2->text().contains("left alone") &&
                 dialog.spareLabel2->text().contains("00000001"),
             qPrintable(dialog.spareLabel2->text()));
    const QStringList rows = listed(dialog);
    QVERIFY2(dialog.calculatorList->isVisible() && rows.size() == 2 &&
                 rows.contains("serial 00000001||left alone"),
             qPrintable(rows.join(", ")));
    for (const FirmwareImage& image : images_)
        QVERIFY2(unitHolds(0, image), qPrintable(image.name));
    QCOMPARE(virtual_calculator::finishCount(0), 1);
    // "Done", but the window stays with the notice: had the exit timer been
    // armed, it would end the loop first.
    QTimer::singleShot(pacing::scaledMs(3000) * 4, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 99);
    QVERIFY(dialog.isVisible() && dialog.spareLabel2->text().contains("left alone"));
}

// One without a serial number cannot be told again once it has left: the
// run is not held for it, and ends in failure with the cause that says so.
void RunSafetyTest::calculatorWithoutSerialIsNotWaitedFor() {
    virtual_calculator::Options options;
    options.noSerial = true;
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    const QStringList results = runToEnd(dialog, [](int count) {
        if (count == 1) { // unplugged and plugged in again after the first file
            virtual_calculator::setPluggedIn(0, false);
            virtual_calculator::setPluggedIn(0, true);
        }
    });
    QCOMPARE(results.value(results.size() - 1), QStringLiteral("Update failed (104)"));
    QVERIFY2(dialog.spareLabel2->text().contains("has no serial number and was disconnected"),
             qPrintable(dialog.spareLabel2->text()));
}

void RunSafetyTest::seventeenCalculatorsHoldTheRun_data() {
    QTest::addColumn<bool>("cancel");
    QTest::newRow("all unplugged, sixteen back: updated") << false;
    // Nothing was written and none of 17 may be picked.
    QTest::newRow("Cancel: the finish command to none") << true;
}

void RunSafetyTest::seventeenCalculatorsHoldTheRun() {
    QFETCH(bool, cancel);
    virtual_calculator::Options options;
    options.units = 17;
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    dialog.show();
    dialog.scanFirmwareFolder();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.spareLabel2->text().contains("More than 16"), 20000);
    QTest::qWait(100); // several more polls
    QCOMPARE(dialog.worker->state.load(), int(CUpdateWorker::WaitingForDevice));
    if (cancel) {
        dialog.cancelButton->click();
        dialog.shutdownWorker();
    }
    for (int unit = 0; unit < 17; ++unit)
        QVERIFY2(!touched(unit), qPrintable(QString::number(unit)));
    if (cancel)
        return;
    // All unplugged at once: the warning no longer holds and goes.
    for (int unit = 0; unit < 17; ++unit)
        virtual_calculator::setPluggedIn(unit, false);
    QTRY_VERIFY(dialog.spareLabel2->text().isEmpty());
    // Sixteen plugged in again: they are updated.
    for (int unit = 0; unit < 16; ++unit)
        virtual_calculator::setPluggedIn(unit, true);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.statusLabel->text() == QStringLiteral("Done"), 60000);
    for (int unit = 0; unit < 16; ++unit)
        QVERIFY(unitHolds(unit, images_[0]));
    QVERIFY(!touched(16));
}

void RunSafetyTest::imageChangedAfterTheCheck_data() {
    QTest::addColumn<int>("newSize"); // of VELA_OS.ROM, checked at 3 chunks
    QTest::newRow("a larger image") << 6 * 1024 * 1024;
    QTest::newRow("the same size, other bytes") << 16384 * 3;
}

// What was checked is what is written: an image replaced while the dialog
// waits for the calculator fails (109) and the run never ends in "Done".
void RunSafetyTest::imageChangedAfterTheCheck() {
    QFETCH(int, newSize);
    QTemporaryDir folder;
    const int sizes[3] = {70001, 40000, 16384 * 3};
    makeFirmware(folder.path(), sizes, 7);
    virtual_calculator::Options options;
    options.absent = true;
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(folder.path(), 1);
    QStringList results;
    connect(dialog.worker, &CUpdateWorker::updaterRan, &dialog,
            [&](int) { results << dialog.statusLabel->text(); });
    dialog.show();
    dialog.scanFirmwareFolder();
    // Changed once the set is checked: once its first file is handed over.
    QTRY_VERIFY(!worker::testing::filePath(*dialog.worker).isEmpty());
    QFile os(folder.path() + "/VELA_OS.ROM");
    QVERIFY(os.open(QIODevice::WriteOnly | QIODevice::Truncate));
    os.write(QByteArray(newSize, 'x'));
    os.close();
    virtual_calculator::setAbsent(false);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.progressBar->isVisible(), 60000);
    QCOMPARE(results.last(), QStringLiteral("Update failed (109)"));
    QVERIFY(!results.contains("Done"));
    QVERIFY2(dialog.spareLabel2->text().contains("VELA_OS.ROM changed since it was checked"),
             qPrintable(dialog.spareLabel2->text()));
    const std::vector<std::uint8_t> written = virtual_calculator::readUnit(0, 0, 16384 * 4);
    QCOMPARE(std::count(written.begin(), written.end(), std::uint8_t('x')),
             newSize == 16384 * 3 ? 16384 * 3 : 0);
}

void RunSafetyTest::calculatorListNamesEachResult_data() {
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("refusingUnit"); // its writes to the first file fail; -1: none
    QTest::addColumn<QString>("lastResult");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("one calculator: no list") << 1 << -1 << "Done" << QStringList();
    QTest::newRow("one calculator failing: no list")
        << 1 << 0 << "Update failed (112)" << QStringList();
    QTest::newRow("three, all written")
        << 3 << -1 << "Done"
        << QStringList{"serial 00000000|100%|OK", "serial 00000001|100%|OK",
                       "serial 00000002|100%|OK"};
    // One failure spoils none: the two others get the whole set.
    QTest::newRow("three, the second refuses writes")
        << 3 << 1 << "Update failed (112)"
        << QStringList{"serial 00000000|100%|OK", "serial 00000001|0%|failed (112)",
                       "serial 00000002|100%|OK"};
}

// After the run the list tells which calculator got the update and which
// did not; the fourth label says why the failed one failed.
void RunSafetyTest::calculatorListNamesEachResult() {
    QFETCH(int, units);
    QFETCH(int, refusingUnit);
    QFETCH(QString, lastResult);
    QFETCH(QStringList, rows);
    virtual_calculator::Options options;
    options.units = units;
    if (refusingUnit >= 0) {
        options.refuseWriteAt = 0x500000;
        options.refuseUnit = refusingUnit;
    }
    virtual_calculator::install(options);
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    const QStringList results = runToEnd(dialog);
    QVERIFY2(!results.isEmpty(), "no result");
    QCOMPARE(results.last(), lastResult);
    QCOMPARE(dialog.calculatorList->isVisible(), !rows.isEmpty());
    // A result that stays on screen has a button that Enter presses to close
    // the window: after a failure, and after a class set's run.
    const bool stays = !rows.isEmpty() || lastResult != QLatin1String("Done");
    QCOMPARE(dialog.closeButton->isVisible(), stays);
    const auto enterCloses = [&dialog] {
        QVERIFY(dialog.closeButton->isDefault() && dialog.closeButton->hasFocus());
        QTest::keyClick(&dialog, Qt::Key_Return);
        QVERIFY(!dialog.isVisible());
    };
    if (rows.isEmpty()) {
        if (stays)
            enterCloses();
        return;
    }
    QCOMPARE(listed(dialog), rows);
    const QString cause = dialog.spareLabel2->text();
    if (refusingUnit >= 0) {
        const QString failed =
            QStringLiteral("serial %1: VELA_APP.DAT at 0x500000: Write Disk File: ")
                .arg(refusingUnit, 8, 10, QLatin1Char('0'));
        // Its cause, then what to do: one line each.
        QVERIFY2(
            cause.startsWith(failed) && cause.count('\n') == 1 &&
                cause.endsWith("\nTry another USB cable or port, then start the update again."),
            qPrintable(cause));
    }
    // Every row is readable whole: no column is narrower than its text.
    const QTreeWidget& list = *dialog.calculatorList;
    for (int i = 0; i < list.topLevelItemCount(); ++i) {
        for (int column = 0; column < 2; ++column) {
            const QString text = list.topLevelItem(i)->text(column);
            QVERIFY2(list.columnWidth(column) > list.fontMetrics().horizontalAdvance(text),
                     qPrintable(text));
        }
    }
    QVERIFY(list.viewport()->height() >=
            list.sizeHintForRow(0) * qMin(list.topLevelItemCount(), 6));
    enterCloses();
}

QTEST_MAIN(RunSafetyTest)
#include "run_safety_test.moc"
