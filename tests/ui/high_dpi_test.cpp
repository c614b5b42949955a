// On a screen at 200 % every icon of the dialog is drawn from a pixmap made
// for that many device pixels, not a 100 % one stretched (which looks blurred).
#include "base/pacing.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/high_dpi.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <functional>

using IconOf = std::function<QIcon(const CCalcFWUpdateMSDialog&)>;
Q_DECLARE_METATYPE(IconOf)

class HighDpiTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void iconsAtTwiceTheSize_data();
    void iconsAtTwiceTheSize();
    void pictureIsSharp();

private:
    QTemporaryDir folder_;
};

void HighDpiTest::initTestCase() {
    pacing::testing::setDivisor(50);
    QCOMPARE(qApp->devicePixelRatio(), 2.0);
}

void HighDpiTest::iconsAtTwiceTheSize_data() {
    QTest::addColumn<IconOf>("iconOf");
    QTest::addColumn<int>("size"); // in the dialog's own (logical) pixels
    const IconOf window = [](const CCalcFWUpdateMSDialog& d) { return d.windowIcon(); };
    const IconOf picture = [](const CCalcFWUpdateMSDialog& d) { return d.appIcon; };
    const IconOf browse = [](const CCalcFWUpdateMSDialog& d) { return d.browseButton->icon(); };
    QTest::newRow("title bar icon") << window << 16;
    QTest::newRow("taskbar icon") << window << 32;
    QTest::newRow("picture") << picture << 64;
    QTest::newRow("Browse button") << browse << 16;
    QTest::newRow("Browse button, large icons") << browse << 32;
}

void HighDpiTest::iconsAtTwiceTheSize() {
    QFETCH(IconOf, iconOf);
    QFETCH(int, size);
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.show();
    dialog.scanFirmwareFolder(); // an empty folder: Browse is offered
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QIcon icon = iconOf(dialog);
    // A drawn size, not a scaled one: QIcon never enlarges a pixmap, so the
    // doubled size exists only when an image of that size was supplied.
    QVERIFY2(icon.availableSizes().contains(QSize(size, size) * 2),
             qPrintable(QStringLiteral("sizes supplied: %1").arg(icon.availableSizes().size())));
    const QPixmap pixmap = icon.pixmap(dialog.windowHandle(), QSize(size, size));
    QCOMPARE(pixmap.size(), QSize(size, size) * 2);
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
}

// The calculator picture keeps its 64-pixel place and fills it with 128
// device pixels.
void HighDpiTest::pictureIsSharp() {
    CCalcFWUpdateMSDialog dialog(folder_.path(), 1);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QLabel* picture = nullptr;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->pixmap(Qt::ReturnByValue).isNull())
            picture = label;
    }
    QVERIFY(picture);
    const QPixmap pixmap = picture->pixmap(Qt::ReturnByValue);
    QCOMPARE(pixmap.size(), QSize(128, 128));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    QCOMPARE(picture->sizeHint(), QSize(64, 64));
}

int main(int argc, char** argv) {
    // A 200 % screen, set up as the updater sets up its application.
    qputenv("QT_SCALE_FACTOR", "2");
    enableHighDpi();
    QApplication app(argc, argv);
    HighDpiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "high_dpi_test.moc"
