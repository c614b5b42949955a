#include "app/standard_output.h"

#include <cstdio>

bool writeStandardOutput(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}
