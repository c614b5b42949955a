// The window as a user first sees it, and the rules for closing it.
#include "base/pacing.h"
#include "firmware_fixture.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
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
    void causeWiderThanTheScreenWraps();
    void aFolderChosenDeepDown();
    void closeRefusedDuringTransfer_data();
    void closeRefusedDuringTransfer();

private:
    QTemporaryDir folder_;
};

void DialogTest::initTestCase() {
    pacing::testing::setDivisor(50);
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

// Where each part of the window is, as a user sees it: the four text lines
// one under the other with the calculator's picture to their right, then the
// bar, then Browse and Cancel in the bottom right corner; the bar fills in
// the calculator's blue.
void DialogTest::layoutOrder() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.browseButton->show();
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    auto box = [&](const QWidget* w) { return QRect(w->mapTo(&dialog, QPoint()), w->size()); };
    const QList<QLabel*> lines{dialog.statusLabel, dialog.spareLabel1, dialog.fileLabel,
                               dialog.spareLabel2};
    for (int i = 1; i < lines.size(); ++i) {
        QVERIFY2(box(lines[i]).top() >= box(lines[i - 1]).bottom(), qPrintable(QString::number(i)));
        QCOMPARE(box(lines[i]).left(), box(lines[0]).left());
    }
    QLabel* picture = nullptr;
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->pixmap(Qt::ReturnByValue).isNull())
            picture = label;
    }
    QVERIFY(picture);
    QCOMPARE(picture->pixmap(Qt::ReturnByValue).size(), QSize(64, 64));
    QVERIFY(box(picture).left() > box(dialog.statusLabel).left());
    QVERIFY(box(picture).top() < box(dialog.spareLabel2).bottom());
    QVERIFY(box(dialog.progressBar).top() > box(dialog.spareLabel2).bottom());
    QVERIFY(box(dialog.progressBar).top() > box(picture).bottom());
    QVERIFY(box(dialog.cancelButton).top() > box(dialog.progressBar).bottom());
    // One row (a style may make the button with an icon a pixel taller).
    QVERIFY(qAbs(box(dialog.browseButton).center().y() - box(dialog.cancelButton).center().y()) <=
            2);
    QVERIFY(box(dialog.browseButton).right() < box(dialog.cancelButton).left());
    QVERIFY(box(dialog.cancelButton).right() > dialog.width() - 30);

    dialog.progressBar->setValue(50);
    const QImage bar = dialog.progressBar->grab().toImage();
    // Half full: blue in the left part of the bar, none in the right part.
    int blueLeft = 0, blueRight = 0;
    for (int y = 0; y < bar.height(); ++y) {
        for (int x = 0; x < bar.width(); ++x) {
            if (bar.pixelColor(x, y) != QColor(0x00, 0x96, 0xd6))
                continue;
            if (x < bar.width() * 2 / 5)
                ++blueLeft;
            else if (x > bar.width() * 3 / 5)
                ++blueRight;
        }
    }
    QVERIFY(blueLeft > bar.height() * 10);
    QCOMPARE(blueRight, 0);
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

// A failure's cause may be longer than the screen is wide: the window stops
// at the screen's edge and the cause goes on over more lines, all of it shown.
void DialogTest::causeWiderThanTheScreenWraps() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const int room = dialog.screen()->availableGeometry().width();
    QString cause = QStringLiteral("serial 0001: Write Disk File:");
    while (dialog.fontMetrics().horizontalAdvance(cause) < 2 * room)
        cause += QStringLiteral(" the device did not answer");
    dialog.spareLabel2->setText(cause);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onUpdateMessage", Q_ARG(QString, "/fw/a")));
    QCoreApplication::sendPostedEvents();
    QVERIFY(dialog.width() <= room);
    QLabel* label = dialog.spareLabel2;
    QVERIFY(label->mapTo(&dialog, QPoint(label->width(), 0)).x() <= dialog.width());
    QTRY_VERIFY2(label->height() >= label->heightForWidth(label->width()),
                 "the cause is cut off at the bottom");
    QVERIFY(label->heightForWidth(label->width()) > 2 * dialog.fontMetrics().height());
    // Later messages, the cause cleared, say nothing on stderr.
    static QStringList warnings;
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext&, const QString& message) {
            // (The offscreen platform's own complaint, not one of our widgets.)
            if (type != QtDebugMsg && type != QtInfoMsg && !message.contains("propagateSizeHints"))
                warnings << message;
        });
    label->clear();
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onUpdateMessage", Q_ARG(QString, "/fw/b")));
    QCoreApplication::sendPostedEvents();
    qInstallMessageHandler(previous);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
}

// Browse takes the folder the user clicked in the folder dialog, not the one
// the dialog was showing; a deep folder's path gives way in its middle
// rather than widening the window.
void DialogTest::aFolderChosenDeepDown() {
    virtual_calculator::Options options;
    options.absent = true;
    virtual_calculator::install(options);
    QTemporaryDir root;
    const QString shown = root.path() + QStringLiteral("/%1/%1/%1").arg(QString(50, 'W'));
    const QString chosen = shown + QStringLiteral("/set");
    QVERIFY(QDir().mkpath(chosen));
    const int sizes[3] = {100, 100, 100};
    makeFirmware(chosen, sizes);
    CCalcFWUpdateMSDialog dialog(shown, 1);
    dialog.show();
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.fileLabel->toolTip(), "Folder: " + QDir::toNativeSeparators(shown));
    // One click on the folder, then the dialog's accept button.
    QTimer::singleShot(0, &dialog, [&] {
        auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(files);
        QCOMPARE(QDir(files->directory()), QDir(shown));
        files->selectFile(QStringLiteral("set"));
        auto* buttons = files->findChild<QDialogButtonBox*>();
        QVERIFY(buttons);
        buttons->button(QDialogButtonBox::Open)->click();
    });
    dialog.browseButton->click();
    QCOMPARE(QDir(dialog.workFolder), QDir(chosen));
    QCOMPARE(dialog.fileList.size(), 3);
    const QString path = dialog.fileList.at(0).path;
    QVERIFY2(dialog.fileLabel->text().contains(QChar(0x2026)),
             qPrintable(dialog.fileLabel->text()));
    QCOMPARE(dialog.fileLabel->toolTip(), path);
    QVERIFY(dialog.width() < dialog.fontMetrics().horizontalAdvance(path));
    dialog.shutdownWorker();
    virtual_calculator::uninstall();
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
