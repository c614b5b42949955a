// The taskbar button or launcher icon follows a whole run: the share of the
// whole update while files are written, an error after the last retry failed,
// nothing after "Done".
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "firmware_fixture.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/progress_outside.h"

#include <QProgressBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(OutsideProgress::Mode)

namespace {

// Records every state handed to the desktop.
class RecordedOutside : public ProgressOutside {
public:
    using ProgressOutside::ProgressOutside;
    QList<OutsideProgress> states;

protected:
    void apply(const OutsideProgress& state) override { states << state; }
};

} // namespace

class ProgressOutsideTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void overallFraction_data();
    void overallFraction();
    void offscreenNeverTries();
    void followsTheRun_data();
    void followsTheRun();

private:
    QTemporaryDir firmwareDir_;
};

void ProgressOutsideTest::initTestCase() {
    pacing::testing::setDivisor(25);
    const int sizes[3] = {70001, 40000, 16384 * 3};
    makeFirmware(firmwareDir_.path(), sizes);
}

void ProgressOutsideTest::overallFraction_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("percent");
    QTest::addColumn<double>("fraction");
    QTest::newRow("first file starts") << 0 << 3 << 0 << 0.0;
    QTest::newRow("first file half") << 0 << 3 << 50 << 1.0 / 6;
    QTest::newRow("second file starts") << 1 << 3 << 0 << 1.0 / 3;
    QTest::newRow("last file done") << 2 << 3 << 100 << 1.0;
    QTest::newRow("no files") << 0 << 0 << 50 << 0.0;
}

void ProgressOutsideTest::overallFraction() {
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(int, percent);
    QFETCH(double, fraction);
    QCOMPARE(::overallFraction(index, count, percent), fraction);
}

// No desktop, no taskbar: a headless run talks to nothing.
void ProgressOutsideTest::offscreenNeverTries() {
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    QWidget window;
    QCOMPARE(ProgressOutside::create(&window), nullptr);
}

void ProgressOutsideTest::followsTheRun_data() {
    QTest::addColumn<qint64>("refuseWriteAt");
    QTest::addColumn<OutsideProgress::Mode>("lastMode");
    QTest::addColumn<double>("highest"); // the largest share shown
    QTest::newRow("done") << qint64(-1) << OutsideProgress::Mode::Hidden << 1.0;
    // The application image, the first file, fails from its first chunk on.
    QTest::newRow("final failure") << qint64(0x500000) << OutsideProgress::Mode::Failed << 0.0;
}

void ProgressOutsideTest::followsTheRun() {
    QFETCH(qint64, refuseWriteAt);
    QFETCH(OutsideProgress::Mode, lastMode);
    QFETCH(double, highest);
    virtual_calculator::Options options;
    options.refuseWriteAt = refuseWriteAt;
    virtual_calculator::install(options);
    RecordedOutside* outside = nullptr;
    progress_outside::testing::setFactory([&](QWidget* window) {
        outside = new RecordedOutside(window);
        return outside;
    });
    auto restore = qScopeGuard([] {
        progress_outside::testing::setFactory({});
        virtual_calculator::uninstall();
    });
    CCalcFWUpdateMSDialog dialog(firmwareDir_.path(), 1);
    QVERIFY(outside);
    dialog.show();
    dialog.scanFirmwareFolder();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.progressBar->isHidden(), 60000);
    QVERIFY(!outside->states.isEmpty());
    QCOMPARE(outside->states.last().mode, lastMode);
    double shown = 0.0;
    for (const OutsideProgress& state : outside->states) {
        if (state.mode == OutsideProgress::Mode::Running)
            shown = qMax(shown, state.fraction);
    }
    QCOMPARE(shown, highest);
}

QTEST_MAIN(ProgressOutsideTest)
#include "progress_outside_test.moc"
