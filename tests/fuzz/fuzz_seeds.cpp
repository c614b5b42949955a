// Writes the starting corpora of the fuzz targets into <out>/<target>/:
// the shipped module files whole, the dictionary and every block of each of
// them (coded, and re-encoded plain), and small hand-made control-sector
// scripts and by-id listings. Usage: fuzz_seeds <module folder> <out folder>
#include "device/control_sector.h"

#include "base/byte_order.h"
#include "strings/res_decode.h"
#include "strings/res_module.h"
#include "strings/res_text.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool writeSeed(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& b) {
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    return bool(out);
}

// The module file is the one name the reader knows; the name asked for is
// ignored, as the seeds come from one file at a time.
struct FileReader {
    std::vector<std::uint8_t> bytes;
    std::int64_t operator()(const char16_t*, std::vector<std::uint8_t>& out, std::int64_t start,
                            std::int64_t end) const {
        out.clear();
        const std::int64_t bound = std::min<std::int64_t>(end, std::int64_t(bytes.size()));
        if (start < 0 || start >= bound)
            return 0;
        out.assign(bytes.begin() + start, bytes.begin() + bound);
        return bound - start;
    }
};

int moduleSeeds(const fs::path& modules, const fs::path& out) {
    int written = 0;
    for (const auto& entry : fs::directory_iterator(modules)) {
        if (entry.path().extension() != ".orvaneresource")
            continue;
        const std::string stem = entry.path().stem().string();
        FileReader reader{fileBytes(entry.path())};
        written += writeSeed(out / "res_module_fuzz", stem, reader.bytes);
        auto module = openResModule(u"seed", ResReadFn(reader));
        if (!module || !loadResIndex(*module))
            continue;
        const bool coded = module->header.dictionaryLength() != 0;
        if (coded && !loadResDictionary(*module))
            continue;
        for (const ResIndexEntry& e : module->index) {
            std::vector<std::uint8_t> block;
            const std::int64_t start = std::uint32_t(module->header.dataBase() + e.blockOffset);
            if (reader(nullptr, block, start, start + e.length()) != std::int64_t(e.length()))
                continue;
            const std::string name = stem + "-" + std::to_string(e.blockNumber());
            std::vector<std::uint8_t> seed;
            seed.push_back(coded ? 1 : 0);
            appendLE16(seed, e.highestPosition());
            appendLE32(seed, coded ? std::uint32_t(module->dictionary.size()) : 0);
            if (coded)
                seed.insert(seed.end(), module->dictionary.begin(), module->dictionary.end());
            seed.insert(seed.end(), block.begin(), block.end());
            written += writeSeed(out / "res_decode_fuzz", name, seed);
            if (!coded)
                continue;
            // The same strings in the plain encoding.
            ResBlock decoded;
            const ResBytes tree{module->dictionary.data(), module->dictionary.size()};
            decodeResBlock(decoded, ResBytes{block.data(), block.size()}, &tree, 0);
            std::vector<std::uint8_t> plain{0};
            appendLE16(plain, std::uint32_t(decoded.count() ? decoded.count() - 1 : 0));
            appendLE32(plain, 0);
            for (const char16_t* s : decoded.strings) {
                for (; *s; ++s)
                    appendLE16(plain, *s);
                appendLE16(plain, 0);
            }
            written += writeSeed(out / "res_decode_fuzz", name + "-plain", plain);
        }
    }
    return written;
}

// One exchange of a control-sector script: fault byte and the sector read back.
void exchange(std::vector<std::uint8_t>& script, std::uint8_t faults, std::uint32_t status) {
    script.push_back(faults);
    ControlRecord answer = makeControlRecord(CMD_PROGRESS, 0);
    for (int i = 0; i < 4; ++i)
        answer.bytes[12 + std::size_t(i)] = std::uint8_t(status >> (8 * i));
    script.insert(script.end(), answer.bytes.begin(), answer.bytes.end());
}

int controlSeeds(const fs::path& out) {
    const std::uint32_t accepted = kAcceptedBit | CMD_PROGRESS;
    struct Script {
        const char* name;
        std::vector<std::pair<std::uint8_t, std::uint32_t>> exchanges;
    };
    const Script scripts[] = {
        {"accepted-first", {{0, accepted}}},
        {"accepted-third", {{0, 0}, {0, CMD_PROGRESS}, {0, accepted}}},
        {"never", {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        {"faults-then-accepted", {{4, accepted}, {16, accepted}, {2, accepted}, {33, accepted}}},
        {"finish-status", {{0, kAcceptedBit | CMD_FINISH}, {8, accepted}, {1, accepted}}},
    };
    int written = 0;
    for (const Script& s : scripts) {
        std::vector<std::uint8_t> seed{50};
        appendLE32(seed, 0x100000);
        appendLE32(seed, 0);
        for (const auto& [faults, status] : s.exchanges)
            exchange(seed, faults, status);
        written += writeSeed(out / "control_answer_fuzz", s.name, seed);
    }
    std::vector<std::uint8_t> shortRead{100};
    appendLE32(shortRead, 87040);
    appendLE32(shortRead, 0);
    exchange(shortRead, 0, accepted);
    shortRead.resize(shortRead.size() - 100);
    written += writeSeed(out / "control_answer_fuzz", "short-read", shortRead);
    return written;
}

int deviceNameSeeds(const fs::path& out) {
    const std::pair<const char*, const char*> listings[] = {
        {"one-calculator",
         "\0\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#0123456789AB&0#{53f56307-"
         "b6bf-11d0-94f2-00a0c91efb8b}\n\\\\?\\scsi#disk&ven_qemu&prod_harddisk#4&1&0&000000#{x}"
         "\n"},
        {"no-serial", "\0\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#7&2a4c6b3&0&0#{"
                      "x}\n\\\\?\\usbstor#disk&ven_orvane&prod_vela_update_2&rev_1#1&0#{x}\n"},
        {"uevent", "\0MAJOR=8\nMINOR=16\nDEVNAME=sdb\nDEVTYPE=disk\nDISKSEQ=12\n"},
        {"own-texts", "\1Orvane\nVela update\n\\\\?\\usbstor#disk&ven_orvane&prod_vela_update#X\n"
                      "DEVNAME=../sda\n"},
    };
    int written = 0;
    for (const auto& [name, text] : listings) {
        std::string bytes(text, 1);
        bytes += std::string(text + 1);
        written += writeSeed(out / "device_names_fuzz", name,
                             std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    return written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds <module folder> <out folder>\n");
        return 2;
    }
    const int modules = moduleSeeds(argv[1], argv[2]);
    const int others = controlSeeds(argv[2]) + deviceNameSeeds(argv[2]);
    std::printf("fuzz_seeds: %d seeds from the modules, %d hand-made\n", modules, others);
    return modules > 0 ? 0 : 1;
}
