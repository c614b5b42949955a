// The UTF-16 text routines and the upper-case table.
#include "strings/res_text.h"

#include <QtTest>

class ResTextTest : public QObject {
    Q_OBJECT

private slots:
    void builder_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QString>("expected");
        QTest::newRow("module name")
            << 32 << QStringList{"Help", "En", ".orvaneresource"} << "HelpEn.orvaneresource";
        QTest::newRow("31 units fill a builder of 32")
            << 32 << QStringList{"Help", "En", "abcdefghijklmnopqrstuvwxyz"}
            << "HelpEnabcdefghijklmnopqrstuvwxy";
        QTest::newRow("nothing fits in one unit") << 1 << QStringList{"abc"} << "";
        QTest::newRow("appends after a full builder are dropped")
            << 4 << QStringList{"abc", "def"} << "abc";
        QTest::newRow("empty parts") << 8 << QStringList{"", "a", ""} << "a";
    }

    void builder() {
        QFETCH(int, capacity);
        QFETCH(QStringList, parts);
        QFETCH(QString, expected);
        // One guard unit past the end: an overrun would change it.
        std::vector<char16_t> buffer(std::size_t(capacity) + 1, u'#');
        ResTextBuilder builder = resTextBuilder(buffer.data(), std::size_t(capacity));
        for (const QString& part : parts) {
            const std::u16string text = part.toStdU16String();
            resTextAppend(builder, text.c_str());
        }
        resTextAppend(builder, nullptr);
        QCOMPARE(QString::fromUtf16(buffer.data()), expected);
        QCOMPARE(int(builder.cursor - builder.start), expected.size());
        QCOMPARE(builder.remaining, std::uint64_t(capacity - 1 - expected.size()));
        QCOMPARE(int(buffer[std::size_t(capacity)]), int(u'#'));
    }

    void lengthAndEnd() {
        QCOMPARE(resTextLength(nullptr), std::int64_t(0));
        QCOMPARE(resTextLength(u""), std::int64_t(0));
        QCOMPARE(resTextLength(u"abc"), std::int64_t(3));
        QVERIFY(resTextEnd(nullptr) == nullptr);
        const char16_t* text = u"ab\0cd";
        QCOMPARE(resTextEnd(text), text + 2);
    }

    void copyLE16() {
        const std::uint8_t bytes[] = {0x41, 0x00, 0xAC, 0x20, 0xFF, 0xFF, 0x99};
        char16_t units[4] = {1, 1, 1, 1};
        resCopyLE16(units, bytes, 3);
        QCOMPARE(int(units[0]), 0x41);
        QCOMPARE(int(units[1]), 0x20AC);
        QCOMPARE(int(units[2]), 0xFFFF);
        QCOMPARE(int(units[3]), 1);
    }

    void toUpper_data() {
        QTest::addColumn<uint>("unit");
        QTest::addColumn<uint>("upper");
        const uint cases[][2] = {
            {0x0065, 0x0045}, {0x0101, 0x0100}, {0x0102, 0x0102}, {0x00DF, 0x1E9E},
            {0x0041, 0x0041}, {0xFF41, 0xFF21}, {0x006B, 0x004B}, {0x0060, 0x0060},
            {0x007B, 0x007B}, {0x00F7, 0x00F7}, {0x00FF, 0x0178}, {0xFF5A, 0xFF3A},
            {0xFF5B, 0xFF5B}, {0xFFFF, 0xFFFF}, {0x0000, 0x0000},
        };
        for (const auto& c : cases)
            QTest::addRow("U+%04X", c[0]) << c[0] << c[1];
    }

    void toUpper() {
        QFETCH(uint, unit);
        QFETCH(uint, upper);
        QCOMPARE(uint(resToUpper(char16_t(unit))), upper);
    }

    void tableShape() {
        QCOMPARE(int(resUpperCaseTable[kResUpperCaseRows].first), 0);
        for (std::size_t i = 0; i < kResUpperCaseRows; ++i) {
            const ResUpperCaseRow& row = resUpperCaseTable[i];
            QVERIFY(row.first != 0);
            QVERIFY(row.first <= row.last);
            if (i > 0)
                QVERIFY(resUpperCaseTable[i - 1].first < row.first);
        }
        const ResUpperCaseRow listed[] = {
            {0x0061, 0x007A, -32}, {0x006B, 0x006B, 8383}, {0x00DF, 0x00DF, 7615},
            {0x00E0, 0x00F6, -32}, {0x00F8, 0x00FE, -32},  {0x00FF, 0x00FF, 121},
            {0x0101, 0x012F, -1},  {0x03B1, 0x03C1, -32},  {0x0430, 0x044F, -32},
            {0x0450, 0x045F, -80}, {0x2170, 0x217F, -16},  {0x24D0, 0x24E9, -26},
            {0xFF41, 0xFF5A, -32},
        };
        for (const ResUpperCaseRow& want : listed) {
            bool found = false;
            for (std::size_t i = 0; i < kResUpperCaseRows && !found; ++i) {
                const ResUpperCaseRow& row = resUpperCaseTable[i];
                found = row.first == want.first && row.last == want.last && row.delta == want.delta;
            }
            QVERIFY2(found, qPrintable(QString::number(want.first, 16)));
        }
        const ResUpperCaseRow& lastRow = resUpperCaseTable[kResUpperCaseRows - 1];
        QCOMPARE(int(lastRow.first), 0xFF41);
    }

    // Against Qt's own case data: every mapping the table makes is right, and
    // every lower-case letter of the covered blocks that has a one-unit upper
    // case gets it. Letters Qt knows from later Unicode versions are skipped.
    void agreesWithQt() {
        const std::pair<uint, uint> blocks[] = {
            {0x0000, 0x058F}, {0x1D00, 0x1D7F}, {0x1E00, 0x1FFF},
            {0x2100, 0x218F}, {0x2460, 0x24FF}, {0x2C00, 0x2D2F},
            {0xA640, 0xA69F}, {0xA720, 0xA7C6}, {0xFF00, 0xFFEF}};
        int covered = 0;
        for (uint c = 1; c <= 0xFFFF; ++c) {
            const QChar ch{char16_t(c)};
            const char16_t mine = resToUpper(char16_t(c));
            const char16_t qt = ch.toUpper().unicode();
            if (c == 0x006B || c == 0x00DF)
                continue;
            if (mine != c && ch.category() != QChar::Other_NotAssigned)
                QVERIFY2(mine == qt, qPrintable(QString::number(c, 16)));
            bool inBlock = false;
            for (const auto& b : blocks)
                inBlock = inBlock || (c >= b.first && c <= b.second);
            if (inBlock && ch.category() == QChar::Letter_Lowercase && qt != c && c != 0x2C5F) {
                QVERIFY2(mine == qt, qPrintable(QString::number(c, 16)));
                ++covered;
            }
        }
        QVERIFY(covered > 900);
    }
};

QTEST_GUILESS_MAIN(ResTextTest)
#include "res_text_test.moc"
