// A tiny table-driven test harness that needs neither Qt nor a test framework,
// so the same tests build for Linux and, cross-compiled, for Windows.
#pragma once

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace harness {

struct Test {
    const char* name;
    void (*body)();
};

std::vector<Test>& registry();
struct Register {
    Register(const char* name, void (*body)()) { registry().push_back({name, body}); }
};

// Records a failed expectation of the running test; the test goes on.
void fail(const char* file, int line, const std::string& what);

template <typename A, typename B> std::string describe(const A& actual, const B& expected) {
    std::ostringstream text;
    text << "got " << actual << ", expected " << expected;
    return text.str();
}

// Lines that differ between two texts, for trace comparisons.
std::string diffLines(const std::vector<std::string>& actual,
                      const std::vector<std::string>& expected);

} // namespace harness

#define DEVICE_TEST(name)                                                                          \
    static void name();                                                                            \
    static harness::Register name##_registration(#name, name);                                     \
    static void name()

#define CHECK(cond, label)                                                                         \
    do {                                                                                           \
        if (!(cond))                                                                               \
            harness::fail(__FILE__, __LINE__, std::string(label) + ": " #cond);                    \
    } while (0)

#define CHECK_EQ(actual, expected, label)                                                          \
    do {                                                                                           \
        const auto& a_ = (actual);                                                                 \
        const auto& e_ = (expected);                                                               \
        if (!(a_ == e_))                                                                           \
            harness::fail(__FILE__, __LINE__,                                                      \
                          std::string(label) + ": " #actual " " + harness::describe(a_, e_));      \
    } while (0)

#define CHECK_LINES(actual, expected, label)                                                       \
    do {                                                                                           \
        const auto& a_ = (actual);                                                                 \
        const auto& e_ = (expected);                                                               \
        if (!(a_ == e_))                                                                           \
            harness::fail(__FILE__, __LINE__,                                                      \
                          std::string(label) + ":\n" + harness::diffLines(a_, e_));                \
    } while (0)
