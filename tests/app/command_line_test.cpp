#include "app/command_line.h"

#include <QtTest>

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void CommandLineTest::parse_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("language");

    QTest::newRow("no arguments") << QStringList{"Updater"} << QString() << 1;
    QTest::newRow("folder and language") << QStringList{"Updater", "C:\\fw", "3"} << "C:\\fw" << 3;
    QTest::newRow("language kept as given, range is the dialog's")
        << QStringList{"Updater", "/fw", "9"} << "/fw" << 9;
    QTest::newRow("language not a number") << QStringList{"Updater", "/fw", "abc"} << "/fw" << 0;
    QTest::newRow("language with trailing text")
        << QStringList{"Updater", "/fw", "3x"} << "/fw" << 0;
    QTest::newRow("empty folder passes through") << QStringList{"Updater", "", "3"} << "" << 3;
    QTest::newRow("one argument ignored") << QStringList{"Updater", "/fw"} << QString() << 1;
    QTest::newRow("three arguments ignored")
        << QStringList{"Updater", "/fw", "3", "extra"} << QString() << 1;
}

void CommandLineTest::parse() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    QFETCH(int, language);
    const CommandLine line = parseCommandLine(arguments);
    QCOMPARE(line.folder, folder);
    QCOMPARE(line.language, language);
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
