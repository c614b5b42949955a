#include "device/linux/sysfs_text.h"

#include <cstdlib>
#include <tuple>

namespace sysfs {

std::string inquiryText(const std::string& raw) {
    std::string text = raw;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n'))
        text.pop_back();
    return text;
}

std::string attributeText(const std::string& raw) {
    if (!raw.empty() && raw.back() == '\n')
        return raw.substr(0, raw.size() - 1);
    return raw;
}

std::string devNameFromUevent(const std::string& uevent) {
    static const std::string kKey = "DEVNAME=";
    std::size_t at = 0;
    while (at < uevent.size()) {
        std::size_t end = uevent.find('\n', at);
        if (end == std::string::npos)
            end = uevent.size();
        if (uevent.compare(at, kKey.size(), kKey) == 0) {
            const std::string name = uevent.substr(at + kKey.size(), end - at - kKey.size());
            const bool escapes = name.empty() || name[0] == '/' || name == ".." ||
                                 name.compare(0, 3, "../") == 0 ||
                                 name.find("/../") != std::string::npos ||
                                 (name.size() >= 3 && name.compare(name.size() - 3, 3, "/..") == 0);
            return escapes || name.find('\0') != std::string::npos ? std::string() : name;
        }
        at = end + 1;
    }
    return {};
}

bool deviceNumberLess(const std::string& a, const std::string& b) {
    const auto parts = [](const std::string& text) {
        char* end = nullptr;
        const unsigned long major = std::strtoul(text.c_str(), &end, 10);
        const unsigned long minor = *end == ':' ? std::strtoul(end + 1, nullptr, 10) : 0;
        return std::make_tuple(major, minor, text);
    };
    return parts(a) < parts(b);
}

} // namespace sysfs
