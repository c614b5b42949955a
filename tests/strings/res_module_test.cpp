// Opening module files and choosing the module for a key.
#include "memory_modules.h"

#include <QtTest>

namespace {

// A header of storedLength bytes (at least 12) followed by `tail` bytes of 0xEE,
// with the given language list.
std::vector<std::uint8_t> header(std::uint32_t storedLength, QList<uint> keys,
                                 std::uint32_t version = kResVersionA, std::size_t tail = 0) {
    std::vector<std::uint8_t> file(std::max<std::size_t>(storedLength, 28), 0);
    setWordAt(file, kResFieldMagic, kResMagic);
    setWordAt(file, kResFieldVersion, version);
    setWordAt(file, kResFieldHeaderLength, storedLength);
    for (int i = 0; i < keys.size(); ++i)
        setWordAt(file, kResFieldModuleKey + 4 * std::size_t(i), keys[i]);
    file.resize(storedLength);
    file.insert(file.end(), tail, 0xEE);
    return file;
}

QList<uint> slotsOf(const ResModule& module) {
    QList<uint> out;
    for (int i = 0; i < 4; ++i)
        out << module.header.languageSlot(i);
    return out;
}

} // namespace

class ResModuleTest : public QObject {
    Q_OBJECT

private slots:
    void fileNames_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("name");
        const char* names[] = {"HelpEn", "HelpZh", "HelpFr", "HelpDe",
                               "HelpEs", "HelpNl", "HelpPt", "HelpJa"};
        for (int language = 1; language <= 8; ++language)
            QTest::addRow("%d", language)
                << language << QString::fromLatin1(names[language - 1]) + ".orvaneresource";
        QTest::newRow("0") << 0 << QString();
        QTest::newRow("9") << 9 << QString();
        QTest::newRow("override key") << 0x83 << QString();
    }

    void fileNames() {
        QFETCH(int, language);
        QFETCH(QString, name);
        QCOMPARE(QString::fromStdU16String(moduleFileName(language)), name);
    }

    void open_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("accepted");
        const auto bytes = [](const std::vector<std::uint8_t>& v) {
            return QByteArray(reinterpret_cast<const char*>(v.data()), int(v.size()));
        };
        QTest::newRow("full header") << bytes(header(332, {1})) << true;
        QTest::newRow("short header") << bytes(header(72, {1}, kResVersionA, 300)) << true;
        QTest::newRow("shortest header") << bytes(header(12, {}, kResVersionA, 20)) << true;
        QTest::newRow("second version") << bytes(header(332, {1}, kResVersionB)) << true;
        QTest::newRow("header length 11") << bytes(header(11, {}, kResVersionA, 400)) << false;
        QTest::newRow("header length 333") << bytes(header(333, {1})) << false;
        QTest::newRow("other version") << bytes(header(332, {1}, 0xFE84125F)) << false;
        QTest::newRow("version zero") << bytes(header(332, {1}, 0)) << false;
        std::vector<std::uint8_t> badMagic = header(332, {1});
        badMagic[0] ^= 1;
        QTest::newRow("wrong magic") << bytes(badMagic) << false;
        std::vector<std::uint8_t> cut = header(332, {1});
        cut.resize(331);
        QTest::newRow("file shorter than its header") << bytes(cut) << false;
        QTest::newRow("file of 8 bytes") << bytes(std::vector<std::uint8_t>(8, 0)) << false;
        QTest::newRow("empty file") << QByteArray() << false;
    }

    void open() {
        QFETCH(QByteArray, file);
        QFETCH(bool, accepted);
        MemoryModules memory;
        memory.files[u"m"] = std::vector<std::uint8_t>(file.begin(), file.end());
        const ResReadFn reader = [&memory](const char16_t* n, std::vector<std::uint8_t>& out,
                                           std::int64_t s,
                                           std::int64_t e) { return memory.read(n, out, s, e); };
        std::unique_ptr<ResModule> module = openResModule(u"m", reader);
        QCOMPARE(module != nullptr, accepted);
        if (!module)
            return;
        // Widened to a full header: the length field says so, and nothing
        // beyond the stored length leaks in from the file.
        const std::uint32_t stored = wordAt(memory.files[u"m"], kResFieldHeaderLength);
        QCOMPARE(module->header.word(kResFieldHeaderLength), uint(kResHeaderSize));
        for (std::size_t i = std::max<std::size_t>(stored, kResFieldModuleKey + 16);
             i < kResHeaderSize; ++i)
            QCOMPARE(int(module->header.bytes[i]), 0);
        for (std::size_t i = 0; i < stored; ++i) {
            if (i >= kResFieldHeaderLength && i < kResFieldModuleKey + 16)
                continue;
            QCOMPARE(module->header.bytes[i], memory.files[u"m"][i]);
        }
        QCOMPARE(QString::fromUtf16(module->name.data()), QStringLiteral("m"));
    }

    void languageListFixUp_data() {
        QTest::addColumn<QList<uint>>("stored");
        QTest::addColumn<QList<uint>>("expected");
        QTest::newRow("3 0 0 0") << QList<uint>{3, 0, 0, 0} << QList<uint>{3, 1, 0, 0};
        QTest::newRow("3 1 0 0") << QList<uint>{3, 1, 0, 0} << QList<uint>{3, 1, 0, 0};
        QTest::newRow("3 5 0 0") << QList<uint>{3, 5, 0, 0} << QList<uint>{3, 5, 1, 0};
        QTest::newRow("3 5 6 7") << QList<uint>{3, 5, 6, 7} << QList<uint>{3, 5, 6, 7};
        QTest::newRow("3 5 6 0") << QList<uint>{3, 5, 6, 0} << QList<uint>{3, 5, 6, 1};
        QTest::newRow("1 0 0 0") << QList<uint>{1, 0, 0, 0} << QList<uint>{1, 0, 0, 0};
        QTest::newRow("0x83 0 0 0") << QList<uint>{0x83, 0, 0, 0} << QList<uint>{0x83, 1, 0, 0};
        QTest::newRow("English after a gap") << QList<uint>{3, 0, 1, 0} << QList<uint>{3, 1, 1, 0};
        QTest::newRow("0 0 0 0") << QList<uint>{0, 0, 0, 0} << QList<uint>{1, 0, 0, 0};
    }

    void languageListFixUp() {
        QFETCH(QList<uint>, stored);
        QFETCH(QList<uint>, expected);
        MemoryModules memory;
        memory.files[u"m"] = header(332, stored);
        const ResReadFn reader = [&memory](const char16_t* n, std::vector<std::uint8_t>& out,
                                           std::int64_t s,
                                           std::int64_t e) { return memory.read(n, out, s, e); };
        std::unique_ptr<ResModule> module = openResModule(u"m", reader);
        QVERIFY(module);
        QCOMPARE(slotsOf(*module), expected);
    }

    void overrideKeyMismatch() {
        MemoryModules memory;
        memory.files[moduleFileName(3)] = header(332, {3});
        QVERIFY(findResModule(3, true) == nullptr);
        QVERIFY(memory.reads > 0);
        int reads = memory.reads;
        QVERIFY(findResModule(3, true) == nullptr);
        QCOMPARE(memory.reads, reads);
        ResModule* base = findResModule(3, false);
        QVERIFY(base != nullptr);
        QCOMPARE(base->header.moduleKey(), 3u);
        QVERIFY(memory.reads > reads);
        reads = memory.reads;
        QCOMPARE(findResModule(3, false), base);
        QCOMPARE(findResModule(3 | 0x80, false) == nullptr, true);
        QCOMPARE(memory.reads, reads);
    }

    void nothingPresentFailsOnce() {
        MemoryModules memory;
        for (int language = 1; language <= 8; ++language)
            for (const bool override : {true, false})
                QVERIFY(findResModule(language, override) == nullptr);
        QVERIFY(memory.reads > 0);
        const int reads = memory.reads;
        for (int language = 1; language <= 8; ++language)
            for (const bool override : {true, false})
                QVERIFY(findResModule(language, override) == nullptr);
        QCOMPARE(memory.reads, reads);
    }

    void keysWithoutFile_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("override");
        QTest::newRow("9") << 9 << false;
        QTest::newRow("9 override") << 9 << true;
        QTest::newRow("0x83 unregistered") << 0x83 << false;
        QTest::newRow("negative") << -1 << false;
        QTest::newRow("0, which only the lookup resolves") << 0 << false;
    }

    void keysWithoutFile() {
        QFETCH(int, language);
        QFETCH(bool, override);
        MemoryModules memory;
        for (int l = 1; l <= 8; ++l)
            memory.files[moduleFileName(l)] = header(332, {uint(l)});
        QVERIFY(findResModule(language, override) == nullptr);
        QCOMPARE(memory.reads, 0);
    }
};

QTEST_GUILESS_MAIN(ResModuleTest)
#include "res_module_test.moc"
