// Both block encodings, decoded straight from hand-made bytes.
#include "strings/res_decode.h"

#include <QtTest>

namespace {

std::vector<std::uint8_t> bytesOf(const QByteArray& hex) {
    const QByteArray raw = QByteArray::fromHex(hex);
    return std::vector<std::uint8_t>(raw.begin(), raw.end());
}

QStringList stringsOf(const ResBlock& block) {
    QStringList out;
    for (const char16_t* s : block.strings)
        out << (s ? QString::fromUtf16(s) : QStringLiteral("<null>"));
    return out;
}

// Root branch (skip 5) over two leaf pairs: 'a' = 00, 'b' = 01, end = 10, CR = 11.
const QByteArray kPairs = "000500"
                          "03610062000300000d00";
// Leaf on bit 0 'x', then leaf on bit 1 'y', then a one-symbol node for the end:
// 'x' = 0, 'y' = 11, end = 10 followed by any bit.
const QByteArray kChain = "027800"
                          "017900"
                          "040000";

} // namespace

class ResDecodeTest : public QObject {
    Q_OBJECT

private slots:
    void coded_data() {
        QTest::addColumn<QByteArray>("tree");
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("treeSize"); // the dictionary's declared size; -1: all of tree

        QTest::newRow("one string") << kPairs << QByteArray("1800") << QStringList{"ab"} << -1;
        QTest::newRow("carriage return dropped")
            << kPairs << QByteArray("6c00") << QStringList{"ab"} << -1;
        QTest::newRow("two strings")
            << kPairs << QByteArray("04000600") << QStringList{"a", "b"} << -1;
        QTest::newRow("filler byte skipped whatever it holds")
            << kPairs << QByteArray("04ff0600") << QStringList{"a", "b"} << -1;
        QTest::newRow("last string cut off")
            << kPairs << QByteArray("040002") << QStringList{"a"} << -1;
        QTest::newRow("no filler after the last string")
            << kPairs << QByteArray("04") << QStringList{"a"} << -1;
        QTest::newRow("empty string") << kPairs << QByteArray("0100") << QStringList{""} << -1;
        QTest::newRow("no bytes") << kPairs << QByteArray("") << QStringList{} << -1;
        QTest::newRow("leaf nodes on either side")
            << kChain << QByteArray("0e00") << QStringList{"xy"} << -1;
        QTest::newRow("one-symbol node takes either bit")
            << kChain << QByteArray("0500") << QStringList{""} << -1;
        QTest::newRow("skip beyond the dictionary")
            << QByteArray("00ffff040000") << QByteArray("01") << QStringList{} << -1;
        QTest::newRow("good string, then the walk leaves the tree")
            << QByteArray("0005000361000000") << QByteArray("080001") << QStringList{} << -1;
        QTest::newRow("pair node cut off")
            << QByteArray("036100") << QByteArray("00") << QStringList{} << -1;
        // The bytes after the declared end hold a whole node: only the bound keeps
        // the walk from taking it.
        QTest::newRow("node cut off")
            << QByteArray("040000") << QByteArray("00") << QStringList{} << 2;
        QTest::newRow("empty dictionary")
            << QByteArray("") << QByteArray("00") << QStringList{} << -1;
    }

    void coded() {
        QFETCH(QByteArray, tree);
        QFETCH(QByteArray, block);
        QFETCH(QStringList, expected);
        QFETCH(int, treeSize);
        const std::vector<std::uint8_t> treeBytes = bytesOf(tree);
        const std::vector<std::uint8_t> blockBytes = bytesOf(block);
        const ResBytes dictionary{treeBytes.data(),
                                  treeSize < 0 ? treeBytes.size() : std::size_t(treeSize)};
        ResBlock decoded;
        decodeResBlock(decoded, ResBytes{blockBytes.data(), blockBytes.size()}, &dictionary, 0);
        QCOMPARE(stringsOf(decoded), expected);
        QVERIFY(!decoded.text.empty());
        QCOMPARE(int(decoded.text.back()), 0);
    }

    void codedGrowsPastItsFirstBuffer() {
        // 'a' is 00: four to a byte; 3000 of them and the end code.
        std::vector<std::uint8_t> block(750, 0x00);
        block.push_back(0x01);
        block.push_back(0x00);
        const std::vector<std::uint8_t> treeBytes = bytesOf(kPairs);
        const ResBytes dictionary{treeBytes.data(), treeBytes.size()};
        ResBlock decoded;
        decodeResBlock(decoded, ResBytes{block.data(), block.size()}, &dictionary, 0);
        QCOMPARE(decoded.count(), std::size_t(1));
        QCOMPARE(QString::fromUtf16(decoded.strings[0]), QString(3000, QLatin1Char('a')));
    }

    void plain_data() {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<uint>("highest");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("two strings")
            << QByteArray("6100000062000000") << 1u << QStringList{"a", "b"};
        QTest::newRow("count field limits")
            << QByteArray("6100000062000000") << 0u << QStringList{"a"};
        QTest::newRow("a start at the end is an empty string")
            << QByteArray("6100000062000000") << 5u << QStringList{"a", "b", ""};
        QTest::newRow("no final zero")
            << QByteArray("6100000062006300") << 5u << QStringList{"a", "bc"};
        QTest::newRow("odd final byte ignored")
            << QByteArray("610000006200000041") << 5u << QStringList{"a", "b", ""};
        QTest::newRow("carriage return kept")
            << QByteArray("61000d0062000000") << 0u << QStringList{"a\rb"};
        QTest::newRow("empty block") << QByteArray("") << 0u << QStringList{""};
        QTest::newRow("non-ASCII units") << QByteArray("ac201e0926200000") << 0u
                                         << QStringList{QString::fromUtf16(u"\u20ac\u091e\u2026")};
    }

    void plain() {
        QFETCH(QByteArray, block);
        QFETCH(uint, highest);
        QFETCH(QStringList, expected);
        const std::vector<std::uint8_t> bytes = bytesOf(block);
        ResBlock decoded;
        decodeResBlock(decoded, ResBytes{bytes.data(), bytes.size()}, nullptr, highest);
        QCOMPARE(stringsOf(decoded), expected);
    }
};

QTEST_GUILESS_MAIN(ResDecodeTest)
#include "res_decode_test.moc"
