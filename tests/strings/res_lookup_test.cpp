// The lookup's passes, fallbacks, remembered failures and block cache.
#include "memory_modules.h"

#include "strings/res_cache.h"
#include "strings/res_qstring.h"
#include "strings/res_string.h"

#include <QtTest>

#include <algorithm>
#include <map>
#include <random>

namespace {

struct ModuleFile {
    std::int32_t fileLanguage; // whose file name it takes
    std::uint32_t key;
    std::vector<std::uint32_t> fallbacks;
    ResStringMap strings;
    bool plain;
};
using ModuleFiles = std::vector<ModuleFile>;

QString lookup(std::uint32_t id, std::int32_t language) {
    const char16_t* text = getResString(id, language);
    return text ? qStringFromUtf16(text) : QStringLiteral("<null>");
}

} // namespace

Q_DECLARE_METATYPE(ModuleFiles)

class ResLookupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { setCurrentLanguageSource(testCurrentLanguageSource); }
    void cleanup() { setCurrentLanguageSource(nullptr); }

    void identifierZeroTouchesNoModule() {
        MemoryModules memory;
        memory.files[moduleFileName(1)] = buildModule(1, {}, {{5, u"five"}});
        const char16_t* text = getResString(0, 1);
        QVERIFY(text != nullptr);
        QCOMPARE(int(text[0]), 0);
        QCOMPARE(memory.reads, 0);
        QVERIFY(getResQString(0, 1).isEmpty());
    }

    void passes_data() {
        QTest::addColumn<ModuleFiles>("modules");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("language");
        QTest::addColumn<uint>("id");
        QTest::addColumn<QString>("expected");

        const ModuleFile english{
            1, 1, {}, {{5, u"en five"}, {6, u"en six"}, {7, u"en seven"}}, false};
        const ModuleFile french{3, 3, {1}, {{5, u"fr five"}, {7, u""}}, false};
        const ModuleFile frenchOverride{3, 0x83, {}, {{5, u"fr override five"}}, false};
        const ModuleFile german{4, 4, {3}, {{9, u"de nine"}}, true};
        const ModuleFile frenchNoEnglish{3, 3, {5, 6, 7}, {{5, u"fr five"}}, false};

        QTest::newRow("only English, current French")
            << ModuleFiles{english} << 3 << 0 << 5u << "en five";
        QTest::newRow("French has it") << ModuleFiles{english, french} << 3 << 0 << 5u << "fr five";
        QTest::newRow("French lacks it")
            << ModuleFiles{english, french} << 3 << 0 << 6u << "en six";
        QTest::newRow("French text empty")
            << ModuleFiles{english, french} << 3 << 0 << 7u << "en seven";
        QTest::newRow("in neither") << ModuleFiles{english, french} << 3 << 0 << 8u << "<null>";
        QTest::newRow("explicit language beats current")
            << ModuleFiles{english, french} << 1 << 3 << 5u << "fr five";
        QTest::newRow("override module is primary")
            << ModuleFiles{english, frenchOverride} << 3 << 0 << 5u << "fr override five";
        QTest::newRow("override lacks it, English base through slot 1")
            << ModuleFiles{english, frenchOverride} << 3 << 0 << 6u << "en six";
        QTest::newRow("German plain, then French, then English")
            << ModuleFiles{english, french, german} << 4 << 0 << 5u << "fr five";
        QTest::newRow("German plain has it")
            << ModuleFiles{english, french, german} << 4 << 0 << 9u << "de nine";
        QTest::newRow("invalid language uses English")
            << ModuleFiles{english, french} << 3 << 9 << 5u << "en five";
        QTest::newRow("list without English never reaches it")
            << ModuleFiles{english, frenchNoEnglish} << 3 << 0 << 6u << "<null>";
        QTest::newRow("no modules at all") << ModuleFiles{} << 3 << 0 << 5u << "<null>";
        QTest::newRow("bit 31 never matches")
            << ModuleFiles{english} << 1 << 0 << 0x80000005u << "<null>";
        QTest::newRow("position beyond a plain block")
            << ModuleFiles{english, {3, 3, {1}, {{0x200, u"fr block 1"}}, true}} << 3 << 0 << 0x201u
            << "<null>";
        QTest::newRow("position beyond a plain block falls back")
            << ModuleFiles{{1, 1, {}, {{0x201, u"en 0x201"}}, false},
                           {3, 3, {1}, {{0x200, u"fr block 1"}}, true}}
            << 3 << 0 << 0x201u << "en 0x201";
        // A text may begin with units that QString::fromUtf16 would take for
        // a byte-order mark; they are text like any other.
        QTest::newRow("leading U+FEFF kept, coded")
            << ModuleFiles{{1, 1, {}, {{5, u"\uFEFFfive"}}, false}} << 1 << 0 << 5u
            << QString(QChar(0xFEFF)) + "five";
        QTest::newRow("leading U+FFFE kept, plain")
            << ModuleFiles{{1, 1, {}, {{5, u"\uFFFEfive"}}, true}} << 1 << 0 << 5u
            << QString(QChar(0xFFFE)) + "five";
    }

    void passes() {
        QFETCH(ModuleFiles, modules);
        QFETCH(int, current);
        QFETCH(int, language);
        QFETCH(uint, id);
        QFETCH(QString, expected);
        MemoryModules memory;
        for (const ModuleFile& m : modules)
            memory.files[moduleFileName(m.fileLanguage)] =
                buildModule(m.key, m.fallbacks, m.strings, m.plain);
        testCurrentLanguage() = current;
        QCOMPARE(lookup(id, language), expected);
        // The second time through, cache, registries and failed keys answer
        // the same way.
        QCOMPARE(lookup(id, language), expected);
        QCOMPARE(getResQString(id, language), expected == "<null>" ? QString() : expected);
    }

    void failuresAreRemembered() {
        MemoryModules memory;
        testCurrentLanguage() = 3;
        QVERIFY(getResString(5, 0) == nullptr);
        QVERIFY(memory.reads > 0);
        const int reads = memory.reads;
        QVERIFY(getResString(5, 0) == nullptr);
        QVERIFY(getResString(0x300, 3) == nullptr);
        QVERIFY(getResString(6, 1) == nullptr);
        QCOMPARE(memory.reads, reads);
    }

    void englishModuleStandsInForFrench() {
        MemoryModules memory;
        memory.files[moduleFileName(1)] = buildModule(1, {}, {{5, u"five"}, {6, u"six"}});
        testCurrentLanguage() = 3;
        QCOMPARE(lookup(5, 0), QStringLiteral("five"));
        // Same block: answered from the cache, and French's keys and English's
        // override key are not looked for again.
        const int reads = memory.reads;
        QCOMPARE(lookup(6, 0), QStringLiteral("six"));
        QCOMPARE(memory.reads, reads);
    }

    void unreadableIndexIsTriedAgain() {
        MemoryModules memory;
        std::vector<std::uint8_t> file = buildModule(1, {}, {{5, u"five"}});
        memory.files[moduleFileName(1)] =
            std::vector<std::uint8_t>(file.begin(), file.begin() + kResHeaderSize);
        QVERIFY(getResString(5, 1) == nullptr);
        memory.files[moduleFileName(1)] = file;
        QCOMPARE(lookup(5, 1), QStringLiteral("five"));
    }

    void unreadableBlockIsNotCached() {
        MemoryModules memory;
        std::vector<std::uint8_t> file = buildModule(1, {}, {{5, u"five"}});
        memory.files[moduleFileName(1)] = std::vector<std::uint8_t>(file.begin(), file.end() - 1);
        QVERIFY(getResString(5, 1) == nullptr);
        memory.files[moduleFileName(1)] = file;
        QCOMPARE(lookup(5, 1), QStringLiteral("five"));
    }

    void unreadableDictionaryIsTriedAgain() {
        MemoryModules memory;
        memory.files[moduleFileName(1)] = buildModule(1, {}, {{5, u"five"}});
        memory.failingStart = kResHeaderSize; // where the writer puts the dictionary
        QVERIFY(getResString(5, 1) == nullptr);
        memory.failingStart = -1;
        QCOMPARE(lookup(5, 1), QStringLiteral("five"));
    }

    void bit31NeverReachesBlockWithBit22() {
        MemoryModules memory;
        std::vector<std::uint8_t> file = buildModule(1, {}, {{1, u"one"}});
        // Renumber the only block to 0x400000, the number that 0x80000001 >> 9 gives.
        const std::size_t entry = wordAt(file, kResFieldIndexOffset);
        setWordAt(file, entry, (wordAt(file, entry) & 0xFF800000u) | 0x400000u);
        memory.files[moduleFileName(1)] = file;
        QVERIFY(getResString(0x80000001u, 1) == nullptr);
    }

    // Seen from outside, the cache's order is which block a new one evicts:
    // the one at the front, which is the block loaded or touched last.
    void cacheOrder_data() {
        QTest::addColumn<QList<int>>("blocks");
        QTest::addColumn<QList<int>>("rereadBlocks");
        QTest::addColumn<QList<int>>("cachedBlocks");

        QTest::newRow("first load") << QList<int>{0} << QList<int>{} << QList<int>{0};
        QTest::newRow("eleventh load evicts the former front")
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10} << QList<int>{9} << QList<int>{0, 1, 8};
        QTest::newRow("a hit swaps with the front: the block touched last is evicted next")
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 3, 10} << QList<int>{3} << QList<int>{9, 0};
        QTest::newRow("a hit at the front changes nothing")
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 10} << QList<int>{9} << QList<int>{8, 0};
        // Block 11 holds nothing at the position asked: a miss there leaves
        // the order as it was.
        QTest::newRow("a miss at an empty position changes nothing")
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -3, 10} << QList<int>{9}
            << QList<int>{3, 0};
    }

    // blocks: the blocks looked up in order (a negative one at a position
    // where it holds nothing); rereadBlocks / cachedBlocks: blocks whose next
    // lookup must read the file again / must not.
    void cacheOrder() {
        QFETCH(QList<int>, blocks);
        QFETCH(QList<int>, rereadBlocks);
        QFETCH(QList<int>, cachedBlocks);
        MemoryModules memory;
        ResStringMap strings;
        for (std::uint32_t b = 0; b < 12; ++b)
            strings[b << 9 | 1] = u"block " + std::u16string(1, char16_t(u'A' + b));
        memory.files[moduleFileName(1)] = buildModule(1, {}, strings);
        for (const int b : blocks) {
            if (b < 0)
                QVERIFY(getResString(std::uint32_t(-b) << 9 | 0x1F, 1) == nullptr);
            else
                QCOMPARE(lookup(std::uint32_t(b) << 9 | 1, 1),
                         QStringLiteral("block ") + QChar(u'A' + b));
        }
        for (const int b : cachedBlocks) {
            const int reads = memory.reads;
            QVERIFY(getResString(std::uint32_t(b) << 9 | 1, 1) != nullptr);
            QCOMPARE(memory.reads, reads);
        }
        for (const int b : rereadBlocks) {
            const int reads = memory.reads;
            QVERIFY(getResString(std::uint32_t(b) << 9 | 1, 1) != nullptr);
            QCOMPARE(memory.reads, reads + 1);
        }
    }

    // A French module with a hostile header holds no text, so each lookup
    // goes on to English, its fallback. A data base that wraps is added
    // modulo 2^32 and still finds every block.
    void hostileHeaders_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<uint>("value");
        QTest::addColumn<QStringList>("expected"); // for ids 1, 0x400 and 2
        const QStringList english{"en one", "en two", "<null>"};
        QTest::newRow("huge index count") << int(kResFieldIndexCount) << 0x7FFFFFFFu << english;
        QTest::newRow("negative index count") << int(kResFieldIndexCount) << 0x80000000u << english;
        QTest::newRow("index beyond the file")
            << int(kResFieldIndexOffset) << 0xFFFFFFF0u << english;
        QTest::newRow("data base wraps")
            << int(kResFieldDataBase) << 0xFFFFFFF0u << QStringList{"one", "two", "<null>"};
        QTest::newRow("dictionary wraps")
            << int(kResFieldDictionaryOffset) << 0xFFFFFFF0u << english;
        QTest::newRow("dictionary too long")
            << int(kResFieldDictionaryLength) << 0x7FFFFFFFu << english;
        QTest::newRow("dictionary cut short") << int(kResFieldDictionaryLength) << 4u << english;
        QTest::newRow("dictionary of one byte") << int(kResFieldDictionaryLength) << 1u << english;
    }

    void hostileHeaders() {
        QFETCH(int, field);
        QFETCH(uint, value);
        QFETCH(QStringList, expected);
        MemoryModules memory;
        memory.files[moduleFileName(1)] = buildModule(1, {}, {{1, u"en one"}, {0x400, u"en two"}});
        std::vector<std::uint8_t> file = buildModule(3, {1}, {{1, u"one"}, {0x400, u"two"}});
        if (field == kResFieldDataBase) {
            // Every block offset moves by as much as the base, so the sums
            // wrap onto the blocks where they lie.
            const std::uint32_t shift = wordAt(file, kResFieldDataBase) - value;
            for (std::size_t e = wordAt(file, kResFieldIndexOffset);
                 e < wordAt(file, kResFieldDataBase); e += kResIndexEntrySize)
                setWordAt(file, e + 4, wordAt(file, e + 4) + shift);
        }
        setWordAt(file, std::size_t(field), value);
        memory.files[moduleFileName(3)] = file;
        QCOMPARE((QStringList{lookup(1, 3), lookup(0x400, 3), lookup(2, 3)}), expected);
    }

    // Random damage to a coded module: no lookup may read outside the file's
    // bytes (run under the sanitizers). A text whose header, dictionary, index
    // and block are intact is still found, and the cache answers as the file did.
    void damagedModulesDoNoHarm() {
        ResStringMap strings;
        for (std::uint32_t id = 1; id < 40; ++id)
            strings[id * 37] = u"text " + std::u16string(id % 7 + 1, char16_t(u'a' + id % 26));
        const std::vector<std::uint8_t> good = buildModule(1, {}, strings);
        // Every lookup reads what lies before the data base; then its block.
        const std::size_t dataBase = wordAt(good, kResFieldDataBase);
        std::map<std::uint32_t, std::pair<std::size_t, std::size_t>> blocks;
        for (std::size_t e = wordAt(good, kResFieldIndexOffset); e < dataBase;
             e += kResIndexEntrySize) {
            const ResIndexEntry entry{wordAt(good, e), wordAt(good, e + 4), wordAt(good, e + 8)};
            const std::size_t start = dataBase + entry.blockOffset;
            blocks[entry.blockNumber()] = {start, start + entry.length()};
        }
        std::mt19937 random(20261207);
        int intact = 0;
        for (int round = 0; round < 3000; ++round) {
            MemoryModules memory;
            std::vector<std::uint8_t> file = good;
            std::vector<std::size_t> damaged;
            const int damage = 1 + int(random() % 8);
            for (int i = 0; i < damage; ++i) {
                damaged.push_back(random() % file.size());
                file[damaged.back()] = std::uint8_t(random());
            }
            if (round % 5 == 0)
                file.resize(random() % file.size());
            memory.files[moduleFileName(1)] = file;
            QStringList first;
            for (const auto& [id, text] : strings) {
                first << lookup(id, 1);
                const std::pair<std::size_t, std::size_t> block = blocks.at(id >> 9);
                const bool whole =
                    block.second <= file.size() &&
                    std::none_of(damaged.begin(), damaged.end(), [&](std::size_t at) {
                        return at < dataBase || (at >= block.first && at < block.second);
                    });
                if (whole) {
                    QCOMPARE(first.last(), qStringFromUtf16(text));
                    ++intact;
                }
            }
            QStringList again;
            for (const auto& entry : strings)
                again << lookup(entry.first, 1);
            QCOMPARE(again, first);
        }
        QVERIFY(intact > 0);
    }
};

QTEST_GUILESS_MAIN(ResLookupTest)
#include "res_lookup_test.moc"
