#include "session/advice.h"

#include <array>

namespace {

constexpr std::size_t kCount = static_cast<std::size_t>(Advice::Count);

// In the order of Advice.
const std::array<const char16_t*, kCount> kEnglish = {
    u"",
    u"Put the calculator in update mode and connect it (see the calculator's manual).",
    u"Unplug all but 16 calculators.",
    u"Connect it again in update mode.",
    u"Connect it again in update mode, then start the update again.",
    u"Check that the firmware files can be read, then start the update again.",
    u"Move the firmware files to a folder with a shorter path.",
    u"Install the updater's package, which holds the access rule for calculators, or ask an "
    u"administrator.",
    u"Start the updater as an administrator (right-click it, Run as administrator), or ask an "
    u"administrator.",
    u"Unmount it or close the program that uses it, then start the update again.",
    u"Unplug the calculator, put it in update mode again, then start the update again.",
    u"Start the update again, so that the folder is scanned again.",
    u"Close other programs, then start the update again.",
    u"Try another USB cable or port, then start the update again.",
    u"Start the update again to complete it.",
    u"Wait until the other updater has finished with it.",
    u"The firmware files are damaged or incomplete: download them again.",
    u"Delete %1, then start the update again.",
    u"Choose the folder that holds the three firmware files.",
    u"Replace %1 with the firmware file itself.",
};

} // namespace

Advice adviceFor(Failure failure) {
    switch (failure) {
    case Failure::None:
        return Advice::None;
    case Failure::NoCalculator:
        return Advice::ConnectCalculator;
    case Failure::TooMany:
        return Advice::UnplugExtra;
    case Failure::Disconnected:
        return Advice::ConnectAgain;
    case Failure::DisconnectedNoSerial:
        return Advice::ConnectAgainAndStart;
    case Failure::FileOpen:
    case Failure::FileRead:
        return Advice::CheckFiles;
    case Failure::PathTooLong:
        return Advice::ShorterFolder;
    case Failure::AccessDenied:
#ifdef _WIN32
        return Advice::AccessRuleWindows;
#else
        return Advice::AccessRule;
#endif
    case Failure::InUse:
        return Advice::CloseOtherProgram;
    case Failure::DiskOpen:
        return Advice::Replug;
    case Failure::Changed:
        return Advice::ScanAgain;
    case Failure::NoResources:
        return Advice::FreeMemory;
    case Failure::Write:
        return Advice::OtherCable;
    case Failure::Stopped:
    case Failure::FinishNotWritten:
        return Advice::StartAgain;
    case Failure::HeldElsewhere:
        return Advice::WaitForOther;
    }
    return Advice::None;
}

std::u16string englishAdvice(Advice advice, const std::u16string& arg) {
    const auto index = static_cast<std::size_t>(advice);
    const std::u16string text = index < kCount ? kEnglish[index] : u"";
    const std::size_t at = text.find(u"%1");
    return at == std::u16string::npos ? text : text.substr(0, at) + arg + text.substr(at + 2);
}
