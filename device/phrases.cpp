#include "device/phrases.h"

#include "device/calculators.h"

#include <array>
#include <memory>
#include <mutex>

namespace {

constexpr std::size_t kPhrases = static_cast<std::size_t>(Phrase::Count);

// In the order of Phrase.
const std::array<const char16_t*, kPhrases> kEnglish = {
    u"The calculator (%1) of this update is not connected",
    u"The calculator at %1 has no serial number and was disconnected",
    u"The calculator %1 is being updated by another updater",
    u"%1 changed since it was checked",
    u"No update disk was found",
    u"More than 16 update disks are connected (%1): nothing is written",
    u"The firmware file's path is longer than 260 characters",
    u"Stopped before the file was written whole",
    u"No memory for the transfer buffer",
    u"Write Disk File: %1",
    u"Read File: %1",
    u"Open File: %1",
    u"Read File: the file ended before its size was reached",
    u"Read File: the file changed while it was being written",
    u"The update disk cannot be opened",
    u"Permission denied on %1",
    u"%1 is in use (a mounted file system?)",
    u"Refused %1: the device changed since the disk was found",
    u"Refused %1: another calculator has taken its place since the disk was found",
    u"Refused %1: not a block device",
    u"Refused %1: not the calculator's update disk (%2)",
    u"The finish command could not be written: %1",
    u"No transfer thread could be started",
    u"The transfer thread's exit code cannot be read",
    u"%1 at 0x%2: %3",
    u"serial %1",
    u"USB port %1",
};
static_assert(kPhrases == kDeviceTexts &&
                  static_cast<int>(Phrase::SerialName) == kDeviceTextSerialName &&
                  static_cast<int>(Phrase::PortName) == kDeviceTextPortName,
              "the templates an application hands over follow this order");

std::mutex lock;
// Read by transfer threads; replaced whole, never changed in place.
std::shared_ptr<const std::vector<std::u16string>> given; // under lock

} // namespace

void setDeviceTexts(std::vector<std::u16string> templates) {
    auto table = std::make_shared<const std::vector<std::u16string>>(std::move(templates));
    std::lock_guard<std::mutex> hold(lock);
    given = std::move(table);
}

std::u16string phrase(Phrase which, std::initializer_list<std::u16string> args) {
    const auto index = static_cast<std::size_t>(which);
    std::shared_ptr<const std::vector<std::u16string>> table;
    {
        std::lock_guard<std::mutex> hold(lock);
        table = given;
    }
    const std::u16string text = table && index < table->size() && !(*table)[index].empty()
                                    ? (*table)[index]
                                    : std::u16string(kEnglish[index]);
    // %1 to %9, each replaced by its argument; "%%" or another % stays.
    std::u16string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t n =
            i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - u'1') : 9;
        if (text[i] == u'%' && n < args.size()) {
            out += *(args.begin() + n);
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}
