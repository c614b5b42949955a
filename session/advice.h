// What a person does next after a failure: one table from the kind of
// failure to one sentence, for the window and the tool alike. Plain C++17.
#pragma once

#include "device/calculators.h"

#include <string>

// In the order of the texts' translations (the window looks them up by it).
enum class Advice : int {
    None,
    ConnectCalculator,    // none in update mode
    UnplugExtra,          // more than 16 connected
    ConnectAgain,         // one of the run unplugged, with a serial
    ConnectAgainAndStart, // one without a serial unplugged
    CheckFiles,           // a firmware file cannot be opened or read
    ShorterFolder,        // the path is too long
    AccessRule,           // the system refuses the disk (Linux words)
    AccessRuleWindows,    // the same in Windows' words
    CloseOtherProgram,    // the disk is in use
    Replug,               // the disk cannot be opened otherwise
    ScanAgain,            // an image changed since it was checked
    FreeMemory,           // no memory or no thread
    OtherCable,           // a write failed
    StartAgain,           // stopped, or the finish command not written
    WaitForOther,         // another updater is updating it
    DownloadAgain,        // the set does not match its SHA256SUMS, or is damaged
    DeleteOne,            // two names of one image: %1 the one to delete
    ChooseFolder,         // no firmware set in the folder
    ReplaceFile,          // a firmware name that is no regular file: %1 the name
    Count
};

[[nodiscard]] Advice adviceFor(Failure failure);

// The English sentence, %1 filled in with arg where it has one; empty for None.
[[nodiscard]] std::u16string englishAdvice(Advice advice, const std::u16string& arg = {});
