#include "harness.h"

#include "base/pacing.h"

#include <cstdio>
#include <cstring>

namespace harness {

namespace {
int failuresOfCurrent = 0;
}

std::vector<Test>& registry() {
    static std::vector<Test> tests;
    return tests;
}

void fail(const char* file, int line, const std::string& what) {
    ++failuresOfCurrent;
    const char* base = std::strrchr(file, '/');
    std::printf("  FAIL %s:%d %s\n", base ? base + 1 : file, line, what.c_str());
}

std::string diffLines(const std::vector<std::string>& actual,
                      const std::vector<std::string>& expected) {
    std::string out;
    const std::size_t n = std::max(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::string a = i < actual.size() ? actual[i] : "(none)";
        const std::string e = i < expected.size() ? expected[i] : "(none)";
        out += (a == e ? "      " : "   != ") + std::to_string(i) + ": " + a +
               (a == e ? "" : "   expected: " + e) + "\n";
    }
    return out;
}

} // namespace harness

int main(int argc, char** argv) {
    // Pauses of 100 and 500 ms become nothing, and a 3 s appearance 3 ms.
    pacing::testing::setDivisor(1000);
    int passed = 0;
    int failed = 0;
    for (const harness::Test& test : harness::registry()) {
        if (argc > 1 && std::strstr(test.name, argv[1]) == nullptr)
            continue;
        harness::failuresOfCurrent = 0;
        test.body();
        std::printf("%s %s\n", harness::failuresOfCurrent == 0 ? "ok  " : "FAIL", test.name);
        (harness::failuresOfCurrent == 0 ? passed : failed) += 1;
    }
    // A filter that names no test would otherwise pass having checked nothing.
    if (passed + failed == 0) {
        std::printf("FAIL no test name contains \"%s\"\n", argc > 1 ? argv[1] : "");
        return 1;
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
