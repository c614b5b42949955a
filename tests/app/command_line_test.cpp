#include "app/command_line.h"

#include <QtTest>

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void folderOfAnyBytes();
};

void CommandLineTest::parse_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("language");
    QTest::addColumn<bool>("version");

    QTest::newRow("no arguments") << QStringList{"Updater"} << QString() << 1 << false;
    QTest::newRow("folder and language")
        << QStringList{"Updater", "C:\\fw", "3"} << "C:\\fw" << 3 << false;
    QTest::newRow("language kept as given, range is the dialog's")
        << QStringList{"Updater", "/fw", "9"} << "/fw" << 9 << false;
    QTest::newRow("language not a number")
        << QStringList{"Updater", "/fw", "abc"} << "/fw" << 0 << false;
    QTest::newRow("language with trailing text")
        << QStringList{"Updater", "/fw", "3x"} << "/fw" << 0 << false;
    QTest::newRow("empty folder passes through")
        << QStringList{"Updater", "", "3"} << "" << 3 << false;
    QTest::newRow("one argument ignored")
        << QStringList{"Updater", "/fw"} << QString() << 1 << false;
    QTest::newRow("three arguments ignored")
        << QStringList{"Updater", "/fw", "3", "extra"} << QString() << 1 << false;
    QTest::newRow("--version alone")
        << QStringList{"Updater", "--version"} << QString() << 1 << true;
    QTest::newRow("--version with a second argument is a folder")
        << QStringList{"Updater", "--version", "3"} << "--version" << 3 << false;
}

void CommandLineTest::parse() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    QFETCH(int, language);
    QFETCH(bool, version);
    const CommandLine line = parseCommandLine(arguments);
    QCOMPARE(line.folder, folder);
    QCOMPARE(line.language, language);
    QCOMPARE(line.version, version);
}

// A folder's name is its bytes: those that are not UTF-8 reach the dialog.
void CommandLineTest::folderOfAnyBytes() {
#ifdef Q_OS_WIN
    QSKIP("Windows hands the arguments over as UTF-16");
#endif
    char program[] = "Updater", folder[] = "/fw\377", language[] = "3";
    char* argv[] = {program, folder, language};
    QCOMPARE(parseCommandLine(commandLineArguments(3, argv)).folder,
             QString("/fw") + QChar(0xDCFF));
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "command_line_test.moc"
