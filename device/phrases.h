// The sentences the device layer writes itself, in English unless the
// application handed translations (setDeviceTexts in calculators.h). Private
// to the layer.
#pragma once

#include <initializer_list>
#include <string>

// In the order of the templates setDeviceTexts takes.
enum class Phrase : int {
    NotConnected,         // %1 the calculator
    DisconnectedNoSerial, // %1 the calculator's port
    HeldElsewhere,        // %1 the calculator
    Changed,              // %1 the file's name
    NoDisk,
    TooMany, // %1 how many
    PathTooLong,
    Stopped,
    NoBuffer,
    WriteDiskFile, // %1 the system's text
    ReadFile,      // %1 the system's text
    OpenFile,      // %1 the system's text
    FileEndedEarly,
    FileChangedWhileWritten,
    DiskCannotBeOpened,
    PermissionDenied,     // %1 the device
    InUse,                // %1 the device
    RefusedChanged,       // %1 the device
    RefusedAnother,       // %1 the device
    RefusedNotBlock,      // %1 the device
    RefusedNotCalculator, // %1 the device, %2 what it is
    FinishNotWritten,     // %1 the system's text
    NoThread,
    NoExitCode,
    AtPosition, // %1 the file's name, %2 the position in hexadecimal, %3 the cause
    SerialName, // %1 the serial
    PortName,   // %1 the port
    Count
};

// A phrase with its %1, %2... filled in.
[[nodiscard]] std::u16string phrase(Phrase which, std::initializer_list<std::u16string> args = {});
