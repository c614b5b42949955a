// What a screen reader finds in the dialog and announces, and the dialog's
// use from the keyboard alone.
#include "base/pacing.h"
#include "device/virtual/virtual_calculator.h"
#include "firmware_fixture.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

// Qt sends accessibility events only while the platform's accessibility is
// active (a screen reader asked for it); Qt's own tests switch it on this way.
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

using WidgetOf = std::function<QWidget*(const CCalcFWUpdateMSDialog&)>;
Q_DECLARE_METATYPE(WidgetOf)
Q_DECLARE_METATYPE(QAccessible::Role)

namespace {

// The texts announced for statusLabel (NameChanged), in order.
QStringList announcements;
const QObject* announcedObject = nullptr;

void recordEvent(QAccessibleEvent* event) {
    if (event->type() != QAccessible::NameChanged || event->object() != announcedObject)
        return;
    if (QAccessibleInterface* iface = event->accessibleInterface())
        announcements << iface->text(QAccessible::Name);
}

} // namespace

class AccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void namesAndRoles_data();
    void namesAndRoles();
    void keyboardPressesButton_data();
    void keyboardPressesButton();
    void statusChangesAnnounced();

private:
    std::unique_ptr<CCalcFWUpdateMSDialog> start(const QString& folder);
    QTemporaryDir firmwareDir_;
    QTemporaryDir emptyDir_;
};

void AccessibilityTest::initTestCase() {
    pacing::testing::setDivisor(25);
    const int sizes[3] = {40000, 20000, 16384};
    makeFirmware(firmwareDir_.path(), sizes);
}

void AccessibilityTest::init() {
    virtual_calculator::Options options;
    options.absent = true;
    virtual_calculator::install(options);
}

void AccessibilityTest::cleanup() {
    QAccessible::installUpdateHandler(nullptr);
    if (QPlatformAccessibility* platform =
            QGuiApplicationPrivate::platformIntegration()->accessibility())
        platform->setActive(false);
    virtual_calculator::uninstall();
}

std::unique_ptr<CCalcFWUpdateMSDialog> AccessibilityTest::start(const QString& folder) {
    auto dialog = std::make_unique<CCalcFWUpdateMSDialog>(folder, 1);
    dialog->show();
    dialog->scanFirmwareFolder();
    QApplication::setActiveWindow(dialog.get());
    return dialog;
}

void AccessibilityTest::namesAndRoles_data() {
    QTest::addColumn<WidgetOf>("widgetOf");
    QTest::addColumn<QAccessible::Role>("role");
    QTest::addColumn<QString>("name"); // empty: the widget's visible text
    QTest::addColumn<QString>("description");
    QTest::newRow("status line") << WidgetOf([](auto& d) { return d.statusLabel; })
                                 << QAccessible::StaticText << QString() << "Status of the update";
    QTest::newRow("file line") << WidgetOf([](auto& d) { return d.fileLabel; })
                               << QAccessible::StaticText << QString()
                               << "Firmware file being written";
    QTest::newRow("progress bar") << WidgetOf([](auto& d) { return d.progressBar; })
                                  << QAccessible::ProgressBar << "Firmware update"
                                  << "Progress of the file being written";
    QTest::newRow("button") << WidgetOf([](auto& d) { return d.cancelButton; })
                            << QAccessible::Button << QString()
                            << "Stops waiting for the calculator; during the countdown, starts "
                               "at once";
}

void AccessibilityTest::namesAndRoles() {
    QFETCH(WidgetOf, widgetOf);
    QFETCH(QAccessible::Role, role);
    QFETCH(QString, name);
    QFETCH(QString, description);
    auto dialog = start(firmwareDir_.path());
    // Waiting for the calculator: every line has a text.
    QTRY_VERIFY(!dialog->statusLabel->text().isEmpty());
    QWidget* widget = widgetOf(*dialog);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(iface);
    QCOMPARE(iface->role(), role);
    if (name.isEmpty())
        name = widget->property("text").toString();
    QVERIFY(!name.isEmpty());
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(iface->text(QAccessible::Description), description);
}

void AccessibilityTest::keyboardPressesButton_data() {
    QTest::addColumn<bool>("firmwarePresent");
    QTest::addColumn<int>("key");
    for (const bool present : {true, false}) {
        const char* phase = present ? "waiting, Cancel" : "no updates, Browse";
        QTest::addRow("%s, Return", phase) << present << int(Qt::Key_Return);
        QTest::addRow("%s, Enter", phase) << present << int(Qt::Key_Enter);
        QTest::addRow("%s, Space", phase) << present << int(Qt::Key_Space);
    }
}

void AccessibilityTest::keyboardPressesButton() {
    QFETCH(bool, firmwarePresent);
    QFETCH(int, key);
    auto dialog = start(firmwarePresent ? firmwareDir_.path() : emptyDir_.path());
    QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
    QPushButton* button = firmwarePresent ? dialog->cancelButton : dialog->browseButton;
    QVERIFY(button->isVisible());
    QCOMPARE(QApplication::focusWidget(), button);
    // What the press then does is tested elsewhere; here Cancel would close
    // the window and Browse open a folder chooser.
    QVERIFY(disconnect(button, &QPushButton::clicked, dialog.get(), nullptr));
    QSignalSpy clicked(button, &QPushButton::clicked);
    // Through the window, as the keyboard delivers it, to the focused widget.
    QTest::keyClick(dialog->windowHandle(), Qt::Key(key));
    QCOMPARE(clicked.count(), 1);
}

// A screen reader reads each new status text as it appears: the retry, the
// result of each file and "Done".
void AccessibilityTest::statusChangesAnnounced() {
    virtual_calculator::setAbsent(false);
    virtual_calculator::refuseWritesAt(0x500000 + 16384);
    auto dialog = start(firmwareDir_.path());
    announcements.clear();
    announcedObject = dialog->statusLabel;
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY(platform);
    platform->setActive(true);
    QAccessible::installUpdateHandler(recordEvent);
    connect(dialog->worker, &CUpdateWorker::updaterRan, this, [](int code) {
        if (code != 0)
            virtual_calculator::refuseWritesAt(-1);
    });
    QTRY_VERIFY_WITH_TIMEOUT(dialog->progressBar->isHidden(), 30000);
    const QString done = localisedText(kTextDone);
    QCOMPARE(dialog->statusLabel->text(), done);
    for (const QString& text :
         {QStringLiteral("Update failed (112), Retry: 1"), QStringLiteral("Update OK (0)"), done})
        QVERIFY2(announcements.contains(text), qPrintable(announcements.join(QLatin1Char('|'))));
    QCOMPARE(announcements.last(), done);
}

QTEST_MAIN(AccessibilityTest)
#include "accessibility_test.moc"
