// The window as a user first sees it, and the rules for closing it.
#include "device/pacing.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

class DialogTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void firstState();
    void layoutOrder();
    void folderArgument_data();
    void folderArgument();
    void waitingTicksText_data();
    void waitingTicksText();
    void lateWaitingSignalKeepsFinalText();
    void closeRefusedDuringTransfer_data();
    void closeRefusedDuringTransfer();

private:
    QTemporaryDir folder_;
};

void DialogTest::initTestCase() {
    pacing::setTestDivisor(50);
    QVERIFY(folder_.isValid());
}

void DialogTest::firstState() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    QCOMPARE(theDialog, &dialog);
    dialog.show();
    QVERIFY(dialog.browseButton->isHidden());
    QVERIFY(dialog.cancelButton->isVisible());
    QVERIFY(dialog.cancelButton->isEnabled());
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Cancel"));
    QCOMPARE(dialog.browseButton->text(), QStringLiteral("Browse for update files"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Firmware update"));
    QCOMPARE(dialog.minimumWidth(), 525);
    dialog.resize(300, dialog.height());
    QCOMPARE(dialog.width(), 525);
    QCOMPARE(dialog.progressBar->styleSheet(),
             QStringLiteral("QProgressBar { border: 2px solid DarkGrey; border-radius: 4px; "
                            "text-align: center; padding: 2px; } QProgressBar::chunk { "
                            "background-color: #0096d6; width: 5px; }"));
    QCOMPARE(dialog.progressBar->minimum(), 0);
    QCOMPARE(dialog.progressBar->maximum(), 100);
    QVERIFY(dialog.progressBar->isVisible());
    QCOMPARE(dialog.progressBar->value(), dialog.progressBar->minimum() - 1); // empty
    for (QLabel* label :
         {dialog.statusLabel, dialog.spareLabel1, dialog.fileLabel, dialog.spareLabel2})
        QVERIFY(label->text().isEmpty());
    QVERIFY(!dialog.windowIcon().isNull());
    QCOMPARE(dialog.startCountdownMs.load(), 0);
    QVERIFY(!dialog.transferActive.load());
    QVERIFY(dialog.workerThread->isRunning());
    QCOMPARE(dialog.worker->thread(), dialog.workerThread);
    QVERIFY(dialog.parent() == nullptr);
    QVERIFY(dialog.isWindow());
}

void DialogTest::layoutOrder() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    auto* main = qobject_cast<QVBoxLayout*>(dialog.layout());
    QVERIFY(main);
    auto* top = qobject_cast<QHBoxLayout*>(main->itemAt(0)->layout());
    QVERIFY(top);
    auto* labels = qobject_cast<QVBoxLayout*>(top->itemAt(0)->layout());
    QVERIFY(labels);
    QCOMPARE(labels->itemAt(0)->widget(), dialog.statusLabel);
    QCOMPARE(labels->itemAt(1)->widget(), dialog.spareLabel1);
    QCOMPARE(labels->itemAt(2)->widget(), dialog.fileLabel);
    QCOMPARE(labels->itemAt(3)->widget(), dialog.spareLabel2);
    auto* picture = qobject_cast<QLabel*>(top->itemAt(2)->widget());
    QVERIFY(picture);
    QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), QSize(64, 64));
    QCOMPARE(main->itemAt(3)->widget(), dialog.progressBar);
    auto* buttons = qobject_cast<QHBoxLayout*>(main->itemAt(5)->layout());
    QVERIFY(buttons);
    QCOMPARE(buttons->itemAt(1)->widget(), dialog.browseButton);
    QCOMPARE(buttons->itemAt(2)->widget(), dialog.cancelButton);
}

void DialogTest::folderArgument_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("expectedLanguage");
    QTest::newRow("language kept") << "C:\\Firmware\\new" << 3 << 3;
    QTest::newRow("language 8") << "/fw" << 8 << 8;
    QTest::newRow("language 9 ignored") << "/fw" << 9 << 1;
    QTest::newRow("language 0 ignored") << "/fw" << 0 << 1;
    QTest::newRow("negative ignored") << "/fw" << -4 << 1;
}

void DialogTest::folderArgument() {
    QFETCH(QString, folder);
    QFETCH(int, language);
    QFETCH(int, expectedLanguage);
    CCalcFWUpdateMSDialog dialog(folder, language);
    QCOMPARE(dialog.workFolder, folder); // unchanged, nothing appended
    QCOMPARE(dialog.language, expectedLanguage);
}

void DialogTest::waitingTicksText_data() {
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "Waiting for connection..";
    QTest::newRow("1") << 1 << "Waiting for connection...";
    QTest::newRow("4") << 4 << "Waiting for connection......";
    QTest::newRow("negative") << -1 << "Waiting for connection..";
}

void DialogTest::waitingTicksText() {
    QFETCH(int, ticks);
    QFETCH(QString, text);
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onWaitingTicks", Q_ARG(int, ticks)));
    QCOMPARE(dialog.statusLabel->text(), text);
}

// On a slow start the worker may announce its wait just before the first scan
// ends the run; that announcement arrives after "No updates are available".
void DialogTest::lateWaitingSignalKeepsFinalText() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onWaitingTicks", Q_ARG(int, 2)));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onWaitingStart"));
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("No updates are available"));
}

void DialogTest::closeRefusedDuringTransfer_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("close button") << false;
    QTest::newRow("escape key") << true;
}

void DialogTest::closeRefusedDuringTransfer() {
    QFETCH(bool, escape);
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto attemptClose = [&] {
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            dialog.close();
    };
    dialog.transferActive = true;
    attemptClose();
    QVERIFY(dialog.isVisible());
    dialog.transferActive = false;
    attemptClose();
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
