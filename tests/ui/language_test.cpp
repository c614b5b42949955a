// The dialog's texts come from the shipped string modules in the chosen
// language. Built beside Updater, so that it reads the same resource folder.
#include "base/pacing.h"
#include "device/calculators.h"
#include "strings/res_qstring.h"
#include "ui/calc_fw_update_dialog.h"
#include "ui/localised_text.h"
#include "worker/update_worker.h"

#include <QRegularExpression>
#include <QTreeWidget>

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
    void everyModuleHoldsEveryText_data() { everyLanguageTranslated_data(); }
    void everyModuleHoldsEveryText();
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
    // The texts added after the first ones, those of the other layers, and
    // Qt's own (the folder dialog's) follow the language too.
    QVERIFY(dialog.calculatorList->headerItem()->text(0) != QLatin1String("Calculator"));
    DiskIdentity calculator;
    calculator.serial = u"0001";
    QVERIFY(qStringFromUtf16(describeDisk(calculator)) != QLatin1String("serial 0001"));
    QVERIFY(localisedAdvice(Advice::OtherCable) !=
            qStringFromUtf16(englishAdvice(Advice::OtherCable)));
    QVERIFY(QCoreApplication::translate("QFileDialog", "Look in:") != QLatin1String("Look in:"));
}

// Each module has a text for every identifier the dialog shows, with the
// same placeholders as the English one: a missing %2 would drop a name.
void LanguageTest::everyModuleHoldsEveryText() {
    QFETCH(int, language);
    const QRegularExpression placeholder(QStringLiteral("%[1-9]"));
    const auto placeholders = [&placeholder](const QString& text) {
        QStringList found;
        for (auto it = placeholder.globalMatch(text); it.hasNext();)
            found << it.next().captured();
        found.sort();
        return found;
    };
    for (const std::uint32_t id : ui::testing::dialogTextIds()) {
        const QString text = getResQString(id, language);
        const QString english = getResQString(id, 1);
        QVERIFY2(!text.isEmpty(), qPrintable(QString::number(id, 16)));
        QVERIFY2(placeholders(text) == placeholders(english), qPrintable(text));
    }
}

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
