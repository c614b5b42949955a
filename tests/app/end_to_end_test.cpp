// The real Updater binary, with real timings, updating the virtual calculator
// from a firmware folder.
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

class EndToEndTest : public QObject {
    Q_OBJECT
private slots:
    void updateFromFolderToDone_data();
    void updateFromFolderToDone();
};

void EndToEndTest::updateFromFolderToDone_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QList<quint64>>("offsets");
    QTest::newRow("new scheme") << QStringList{"VELA_APP.DAT", "VELA_MAIN.DAT", "VELA_OS.ROM"}
                                << QList<quint64>{0x500000, 0x100000, 0};
    QTest::newRow("legacy scheme, lower case")
        << QStringList{"progpack.dat", "tables.dat", "sysimage.rom"}
        << QList<quint64>{0x500000, 0x100000, 0};
}

void EndToEndTest::updateFromFolderToDone() {
    QFETCH(QStringList, names);
    QFETCH(QList<quint64>, offsets);
    QTemporaryDir firmware, calculator;
    const int sizes[] = {300001, 100000, 65536};
    QList<QByteArray> images;
    for (int i = 0; i < 3; ++i) {
        QByteArray bytes(sizes[i], Qt::Uninitialized);
        QRandomGenerator rng(static_cast<quint32>(100 + i));
        for (char& c : bytes)
            c = static_cast<char>(rng.generate());
        QFile file(firmware.path() + '/' + names[i]);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        images << bytes;
    }

    QProcess updater;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("UPDATER_VIRTUAL_CALCULATOR", "dir=" + calculator.path());
    updater.setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    updater.start(QStringLiteral(UPDATER_BINARY), {firmware.path(), "1"});
    QVERIFY(updater.waitForStarted());
    QVERIFY(updater.waitForFinished(120000));
    QCOMPARE(updater.exitStatus(), QProcess::NormalExit);
    QCOMPARE(updater.exitCode(), 0);
    // Nothing of ours may still run or complain while the process ends.
    const QString errors = QString::fromLocal8Bit(updater.readAllStandardError());
    QVERIFY2(!errors.contains("QThread"), qPrintable(errors));
    QVERIFY2(!errors.contains("QObject"), qPrintable(errors));
    QVERIFY2(!errors.contains("Sanitizer"), qPrintable(errors));
    // A headless run shows its user only what it prints: Qt's offscreen
    // platform must not bury that under a warning per window resize.
    QVERIFY2(!errors.contains("propagateSizeHints"), qPrintable(errors));
    // Found after the first poll, six countdown steps, three transfers, then
    // three seconds of "Done": the real pauses were kept.
    QVERIFY2(clock.elapsed() > 9000, qPrintable(QString::number(clock.elapsed())));

    QFile disk(calculator.path() + "/unit0.img");
    QVERIFY(disk.open(QIODevice::ReadOnly));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(disk.seek(static_cast<qint64>(offsets[i])));
        QCOMPARE(disk.read(images[i].size()), images[i]);
    }
    QFile trace(calculator.path() + "/unit0.trace");
    QVERIFY(trace.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(trace.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.count("W 87040 512 FINISH"), 1);
    QCOMPARE(lines.count("W 87040 512 PROGRESS 100"), 3);
    QVERIFY(lines.filter("FAILED").isEmpty());
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
