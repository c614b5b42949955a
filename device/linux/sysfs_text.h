// The texts of sysfs that discovery reads, apart from the reading, so that
// they can be tested (and fuzzed) with recorded text.
#pragma once

#include <string>

namespace sysfs {

// A SCSI inquiry string as sysfs shows it: padded with spaces, ended by a
// newline. Without the padding and the newline.
[[nodiscard]] std::string inquiryText(const std::string& raw);

// An attribute as sysfs shows it (a USB serial number): the text without its
// one trailing newline; spaces are kept, they may belong to the text.
[[nodiscard]] std::string attributeText(const std::string& raw);

// The DEVNAME=... line of a uevent file ("sdb"); empty when there is none, or
// when it would lead out of /dev (an absolute path, or "..").
[[nodiscard]] std::string devNameFromUevent(const std::string& uevent);

// "8:16" before "8:32" before "65:0": the order of device numbers.
[[nodiscard]] bool deviceNumberLess(const std::string& a, const std::string& b);

} // namespace sysfs
