// Times getResString cold (every registry and the block cache emptied, so the
// module's header, index, dictionary and block are read from its file and
// the block decoded) against warm (the block already at the front of the
// cache). Prints one line per identifier:
//   id=<id> language=<n> cold_ns=<median> warm_ns=<mean> ratio=<cold/warm>
// Usage: bench_strings <folder of the string modules>
#include "strings/res_cache.h"
#include "strings/res_module.h"
#include "strings/res_string.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double nsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_strings <folder of the string modules>\n");
        return 2;
    }
    QDir::setSearchPaths(QStringLiteral("resource"), {QString::fromLocal8Bit(argv[1])});

    struct Lookup {
        std::uint32_t id;
        std::int32_t language;
    };
    // English, and a language that falls back to English, so that the cold
    // path also opens a second module.
    const Lookup lookups[] = {{0x209, 1}, {7774, 8}, {633, 3}};
    constexpr int kColdRounds = 301;
    constexpr int kWarmCalls = 2000000;
    int failures = 0;
    for (const Lookup& l : lookups) {
        std::vector<double> cold;
        for (int round = 0; round < kColdRounds; ++round) {
            testing::resetStringResources();
            const auto start = Clock::now();
            const char16_t* text = getResString(l.id, l.language);
            cold.push_back(nsSince(start));
            failures += text == nullptr;
        }
        std::nth_element(cold.begin(), cold.begin() + kColdRounds / 2, cold.end());
        const double coldNs = cold[kColdRounds / 2];

        (void)getResString(l.id, l.language);
        std::uintptr_t sink = 0;
        const auto start = Clock::now();
        for (int call = 0; call < kWarmCalls; ++call)
            sink += reinterpret_cast<std::uintptr_t>(getResString(l.id, l.language));
        const double warmNs = nsSince(start) / kWarmCalls;
        std::printf("id=%u language=%d cold_ns=%.0f warm_ns=%.1f ratio=%.0f%s\n", l.id, l.language,
                    coldNs, warmNs, coldNs / warmNs, sink ? "" : " (no text)");
    }
    return failures == 0 ? 0 : 1;
}
