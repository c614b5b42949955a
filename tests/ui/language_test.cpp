// The dialog's texts come from the shipped string modules in the chosen
// language. Built beside Updater, so that it reads the same resource folder.
#include "base/pacing.h"
#include "ui/calc_fw_update_dialog.h"
#include "worker/update_worker.h"

#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class LanguageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { pacing::testing::setDivisor(50); }
    void germanDialog();
    void everyLanguageTranslated_data();
    void everyLanguageTranslated();
};

void LanguageTest::germanDialog() {
    QTemporaryDir empty;
    CCalcFWUpdateMSDialog dialog(empty.path(), 4);
    QCOMPARE(dialog.language, 4);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Firmware-Update"));
    QCOMPARE(dialog.cancelButton->text(), QStringLiteral("Abbrechen"));
    QCOMPARE(dialog.browseButton->text(), QStringLiteral("Nach Update-Dateien suchen"));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onWaitingTicks", Q_ARG(int, 0)));
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("Warten auf Verbindung.."));
    dialog.scanFirmwareFolder();
    QCOMPARE(dialog.statusLabel->text(), QStringLiteral("Keine Updates verfügbar"));
}

void LanguageTest::everyLanguageTranslated_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::newRow("English") << 1 << "Firmware update";
    for (int language = 2; language <= 8; ++language)
        QTest::newRow(qPrintable(QString::number(language))) << language << QString();
}

void LanguageTest::everyLanguageTranslated() {
    QFETCH(int, language);
    QFETCH(QString, title);
    QTemporaryDir empty;
    CCalcFWUpdateMSDialog dialog(empty.path(), language);
    if (!title.isEmpty()) {
        QCOMPARE(dialog.windowTitle(), title);
        return;
    }
    // Another language than English, and the waiting text still ends in dots.
    QVERIFY(dialog.cancelButton->text() != QLatin1String("Cancel"));
    QVERIFY(dialog.browseButton->text() != QLatin1String("Browse for update files"));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onWaitingTicks", Q_ARG(int, 3)));
    QVERIFY(dialog.statusLabel->text().endsWith(QLatin1String("....")));
}

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
