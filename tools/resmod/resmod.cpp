// resmod: compiles, inspects and queries string resource modules.
//   resmod build --key K [--fallback K2 ...] [--plain] SOURCE OUTPUT
//   resmod shipped SOURCE_DIR OUTPUT_DIR
//   resmod get --dir DIR [--current L] LANGUAGE ID
//   resmod list FILE
#include "module_source.h"

#include "base/byte_order.h"
#include "base/utf16_text.h"
#include "module_writer.h"

#include "strings/language_table.h"
#include "strings/res_module.h"
#include "strings/res_string.h"

#include <QDir>
#include <QString>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;

int usage() {
    std::fputs("usage: resmod build --key K [--fallback K2 ...] [--plain] SOURCE OUTPUT\n"
               "       resmod shipped SOURCE_DIR OUTPUT_DIR\n"
               "       resmod get --dir DIR [--current L] LANGUAGE ID\n"
               "       resmod list FILE\n",
               stderr);
    return kUsageError;
}

bool parseSigned(const std::string& text, std::int32_t& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 0);
    if (end != text.c_str() + text.size() || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(parsed);
    return true;
}

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// Serves one file by path to the module code, for `list`.
ResReadFn fileReader(const std::string& path) {
    return [path](const char16_t*, std::vector<std::uint8_t>& out, std::int64_t start,
                  std::int64_t end) -> std::int64_t {
        out.clear();
        std::string bytes;
        if (!readFile(path, bytes))
            return 0;
        const std::int64_t bound = std::min<std::int64_t>(end, std::int64_t(bytes.size()));
        if (start < 0 || start >= bound)
            return 0;
        out.assign(bytes.begin() + start, bytes.begin() + bound);
        return bound - start;
    };
}

int compile(ModuleSpec& spec, const std::string& sourcePath, const std::string& outputPath) {
    std::string source;
    if (!readFile(sourcePath, source)) {
        std::fprintf(stderr, "resmod: cannot read %s\n", sourcePath.c_str());
        return 1;
    }
    std::string error;
    if (!parseModuleSource(source, spec.strings, error)) {
        std::fprintf(stderr, "%s: %s\n", sourcePath.c_str(), error.c_str());
        return 1;
    }
    std::vector<std::uint8_t> module;
    if (!writeModule(spec, module, error)) {
        std::fprintf(stderr, "resmod: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(outputPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(module.data()), std::streamsize(module.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "resmod: cannot write %s\n", outputPath.c_str());
        return 1;
    }
    return 0;
}

int build(int argc, char** argv) {
    ModuleSpec spec;
    bool haveKey = false;
    std::vector<std::string> files;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        std::int32_t value = 0;
        if ((arg == "--key" || arg == "--fallback") && i + 1 < argc) {
            if (!parseSigned(argv[++i], value) || value <= 0) {
                std::fprintf(stderr, "resmod: bad module key '%s'\n", argv[i]);
                return kUsageError;
            }
            if (arg == "--key") {
                spec.key = static_cast<std::uint32_t>(value);
                haveKey = true;
            } else {
                spec.fallbacks.push_back(static_cast<std::uint32_t>(value));
            }
        } else if (arg == "--plain") {
            spec.plain = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usage();
        } else {
            files.push_back(arg);
        }
    }
    if (!haveKey || files.size() != 2)
        return usage();
    return compile(spec, files[0], files[1]);
}

// The modules the updater ships, one per language of the language table: the
// source <code>.txt of each, compiled under the file name the lookup opens,
// English as every other language's fallback. The table is the one list of
// languages; the build asks this command instead of repeating it.
int shipped(int argc, char** argv) {
    if (argc != 2)
        return usage();
    const std::string sources = argv[0];
    const std::string output = argv[1];
    for (std::int32_t language = kFirstLanguage; language <= kLastLanguage; ++language) {
        ModuleSpec spec;
        spec.key = static_cast<std::uint32_t>(language);
        if (language != kEnglish)
            spec.fallbacks.push_back(kEnglish);
        char16_t name[kResFileNameUnits];
        if (!resModuleFileName(language, name))
            return 1;
        const std::string code = languageTable[language - 1].matchCode;
        const int status = compile(spec, sources + "/" + code + ".txt",
                                   output + "/" + toUtf8(std::u16string(name)));
        if (status != 0)
            return status;
    }
    return 0;
}

std::int32_t currentForGet = 1;
std::int32_t currentLanguageForGet() {
    return currentForGet;
}

int get(int argc, char** argv) {
    std::string dir;
    std::vector<std::string> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            dir = argv[++i];
        } else if (arg == "--current" && i + 1 < argc) {
            if (!parseSigned(argv[++i], currentForGet))
                return usage();
        } else if (arg.size() > 1 && arg[0] == '-' && !(arg[1] >= '0' && arg[1] <= '9')) {
            return usage();
        } else {
            rest.push_back(arg);
        }
    }
    std::int32_t language = 0;
    std::uint32_t id = 0;
    if (dir.empty() || rest.size() != 2 || !parseSigned(rest[0], language) ||
        !parseResId(rest[1], id))
        return usage();

    // The dialog's own path: the "resource" search prefix and the lookup.
    QDir::setSearchPaths(QStringLiteral("resource"),
                         {QDir(QString::fromLocal8Bit(dir.c_str())).absolutePath()});
    setCurrentLanguageSource(currentLanguageForGet);
    const char16_t* text = getResString(id, language);
    if (text == nullptr)
        return 1;
    const std::string utf8 = toUtf8(std::u16string(text)) + "\n";
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return 0;
}

int list(int argc, char** argv) {
    if (argc != 1)
        return usage();
    const std::string path = argv[0];
    const ResReadFn reader = fileReader(path);
    std::unique_ptr<ResModule> module = openResModule(u"module", reader);
    if (!module) {
        std::fprintf(stderr, "resmod: %s is not a string module\n", path.c_str());
        return 1;
    }
    const ResModuleHeader& h = module->header;
    std::printf("magic             0x%08" PRIX32 "\n", h.word(kResFieldMagic));
    std::printf("version           0x%08" PRIX32 "\n", h.word(kResFieldVersion));
    std::vector<std::uint8_t> stored;
    if (reader(u"module", stored, 0, kResMinHeaderSize) == std::int64_t(kResMinHeaderSize))
        std::printf("header length     %" PRIu32 " bytes stored\n", readLE32(stored.data() + 8));
    std::printf("module key        0x%" PRIX32 "%s\n", h.moduleKey(),
                (h.moduleKey() & kResOverrideBit) ? " (override)" : "");
    std::printf("languages         0x%" PRIX32 " 0x%" PRIX32 " 0x%" PRIX32 " 0x%" PRIX32
                " (as the lookup sees them)\n",
                h.languageSlot(0), h.languageSlot(1), h.languageSlot(2), h.languageSlot(3));
    std::printf("dictionary        offset %" PRIu32 ", %" PRIu32 " bytes%s\n", h.dictionaryOffset(),
                h.dictionaryLength(),
                h.dictionaryLength() == 0 ? " (plain blocks)" : " (coded blocks)");
    std::printf("index             offset %" PRIu32 ", %" PRId32 " entries\n", h.indexOffset(),
                h.indexCount());
    std::printf("data base         %" PRIu32 "\n", h.dataBase());
    if (!loadResIndex(*module)) {
        std::fprintf(stderr, "resmod: the block index cannot be read\n");
        return 1;
    }
    for (const ResIndexEntry& e : module->index) {
        std::printf("block %-7" PRIu32 " ids 0x%" PRIX32 "-0x%" PRIX32 ", %" PRIu32
                    " strings, offset %" PRIu32 ", %" PRIu32 " bytes\n",
                    e.blockNumber(), e.blockNumber() << 9,
                    (e.blockNumber() << 9) + e.highestPosition(), e.highestPosition() + 1,
                    e.blockOffset, e.length());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "build")
        return build(argc - 2, argv + 2);
    if (command == "shipped")
        return shipped(argc - 2, argv + 2);
    if (command == "get")
        return get(argc - 2, argv + 2);
    if (command == "list")
        return list(argc - 2, argv + 2);
    return usage();
}
