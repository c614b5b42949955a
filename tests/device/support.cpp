#include "support.h"

#include "base/utf16_text.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>

#ifdef _WIN32
#include <direct.h>
#else
#include <sys/stat.h>
#endif

namespace support {

namespace {
std::mutex recordLock;
std::vector<int> progress;
std::vector<std::string> messages;
void (*progressHook)(int) = nullptr;
} // namespace

std::string tempDir(const std::string& name) {
    const char* base = std::getenv("TMPDIR");
#ifdef _WIN32
    if (!base)
        base = std::getenv("TEMP");
    std::string dir = std::string(base ? base : ".") + "\\updater-device-" + name;
    _mkdir(dir.c_str());
#else
    std::string dir = std::string(base ? base : "/tmp") + "/updater-device-" + name;
    ::mkdir(dir.c_str(), 0700);
#endif
    return dir;
}

std::vector<std::uint8_t> pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>((x >> 16) | 1); // never 0, unlike padding
    }
    return bytes;
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return out.good();
}

std::vector<std::uint8_t> readFile(const std::string& path, std::uint64_t offset,
                                   std::size_t length) {
    std::vector<std::uint8_t> bytes(length, 0);
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(length));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

std::u16string wide(const std::string& text) {
    return toUtf16(text);
}

void resetCallbacks() {
    std::lock_guard<std::mutex> hold(recordLock);
    progress.clear();
    messages.clear();
    progressHook = nullptr;
}

void onProgress(int percent) {
    void (*hook)(int) = nullptr;
    {
        std::lock_guard<std::mutex> hold(recordLock);
        progress.push_back(percent);
        hook = progressHook;
        progressHook = nullptr;
    }
    if (hook)
        hook(percent);
}

void onMessage(const char16_t* text) {
    std::lock_guard<std::mutex> hold(recordLock);
    messages.push_back(toUtf8(text ? text : u""));
}

std::vector<int> progressSeen() {
    std::lock_guard<std::mutex> hold(recordLock);
    return progress;
}

std::vector<std::string> messagesSeen() {
    std::lock_guard<std::mutex> hold(recordLock);
    return messages;
}

void setProgressHook(void (*hook)(int)) {
    std::lock_guard<std::mutex> hold(recordLock);
    progressHook = hook;
}

std::vector<std::string> traceText(int unit) {
    std::vector<std::string> lines;
    for (const auto& entry : virtual_calculator::trace(unit))
        lines.push_back(virtual_calculator::traceLine(entry));
    return lines;
}

DiskIdentity unitIdentity(int unit) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08d", unit);
    DiskIdentity identity;
    identity.vendor = u"Orvane";
    identity.model = u"Vela update";
    identity.serial = toUtf16(serial);
    return identity;
}

void freshCalculator(const virtual_calculator::Options& options) {
    virtual_calculator::install(options);
    resetCallbacks();
}

void freshCalculator(int units) {
    virtual_calculator::Options options;
    options.units = units;
    freshCalculator(options);
}

} // namespace support
