// Reading byte ranges of module files through the "resource:" search path.
#include "strings/res_reader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

class ResReaderTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        QDir::setSearchPaths(QStringLiteral("resource"), {dir.path()});
        QFile file(dir.filePath(QStringLiteral("eight.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write("ABCDEFGH"), qint64(8));
    }

    void ranges_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("header of a short file")
            << "eight.bin" << qint64(0) << qint64(12) << QByteArray("ABCDEFGH");
        QTest::newRow("inside") << "eight.bin" << qint64(2) << qint64(5) << QByteArray("CDE");
        QTest::newRow("end beyond the file")
            << "eight.bin" << qint64(6) << qint64(1000) << QByteArray("GH");
        QTest::newRow("start at the size")
            << "eight.bin" << qint64(8) << qint64(12) << QByteArray();
        QTest::newRow("start beyond the size")
            << "eight.bin" << qint64(20) << qint64(30) << QByteArray();
        QTest::newRow("empty range") << "eight.bin" << qint64(3) << qint64(3) << QByteArray();
        QTest::newRow("end before start") << "eight.bin" << qint64(5) << qint64(2) << QByteArray();
        QTest::newRow("negative start") << "eight.bin" << qint64(-4) << qint64(2) << QByteArray();
        QTest::newRow("missing file") << "missing.bin" << qint64(0) << qint64(12) << QByteArray();
        QTest::newRow("huge end") << "eight.bin" << qint64(0)
                                  << qint64(std::numeric_limits<qint64>::max())
                                  << QByteArray("ABCDEFGH");
    }

    void ranges() {
        QFETCH(QString, name);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(QByteArray, expected);
        std::vector<std::uint8_t> out(3, 0x55);
        const std::u16string file = name.toStdU16String();
        const std::int64_t count = readResourceFile(file.c_str(), out, start, end);
        QCOMPARE(count, std::int64_t(expected.size()));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(out.data()), int(out.size())), expected);
    }

    // A module that claims a huge part (a sparse file, or one made so) must
    // not make the reader allocate it, and a FIFO must not hold it forever.
    void untrustedFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("16 MiB read whole") << "sparse" << qint64(16 << 20) << qint64(16 << 20);
        QTest::newRow("one byte more refused") << "sparse" << qint64((16 << 20) + 1) << qint64(0);
        QTest::newRow("4 GiB refused") << "sparse" << (qint64(1) << 32) << qint64(0);
        QTest::newRow("FIFO") << "fifo" << qint64(12) << qint64(0);
        QTest::newRow("folder") << "folder" << qint64(12) << qint64(0);
    }

    void untrustedFiles() {
        QFETCH(QString, kind);
        QFETCH(qint64, end);
        QFETCH(qint64, expected);
        const QString path = dir.filePath(QStringLiteral("untrusted.bin"));
        QFile::remove(path);
        QDir(dir.path()).rmdir(QStringLiteral("untrusted.bin"));
        if (kind == "sparse") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(8) << 30));
        } else if (kind == "folder") {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("untrusted.bin")));
        } else {
#ifdef Q_OS_WIN
            QSKIP("FIFOs are made with POSIX calls");
#else
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
        }
        std::vector<std::uint8_t> out;
        QCOMPARE(readResourceFile(u"untrusted.bin", out, 0, end), std::int64_t(expected));
        QCOMPARE(qint64(out.size()), expected);
        QFile::remove(path);
        QDir(dir.path()).rmdir(QStringLiteral("untrusted.bin"));
    }

    // No module file stays open between reads, whatever the outcome.
    void filesAreClosedAgain() {
#ifdef Q_OS_WIN
        // Under Wine /proc shows the emulator's own descriptors, which come
        // and go on their own; Windows has no such list.
        QSKIP("open files are counted through /proc on Linux");
#endif
        const QDir fds(QStringLiteral("/proc/self/fd"));
        if (!fds.exists())
            QSKIP("no /proc to count open files");
        const auto openFiles = [&fds] {
            return fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        };
        const int before = openFiles();
        std::vector<std::uint8_t> out;
        for (int i = 0; i < 50; ++i) {
            (void)readResourceFile(u"eight.bin", out, 0, 4);
            (void)readResourceFile(u"eight.bin", out, 8, 12);
            (void)readResourceFile(u"missing.bin", out, 0, 4);
        }
        QCOMPARE(openFiles(), before);
    }
};

QTEST_GUILESS_MAIN(ResReaderTest)
#include "res_reader_test.moc"
