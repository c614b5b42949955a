#pragma once

#include <QString>

#include <cstdint>

// Identifiers of the dialog's texts.
enum TextId : std::uint32_t {
    kTextCancel = 0x2,
    kTextStart = 0x14,
    kTextWaitingForConnection = 0x209,
    kTextNoUpdates = 0x26E,
    kTextDone = 0x273,
    kTextTitle = 0x277,
    kTextAborted = 0x279,
    kTextFirmwareFolder = 0x291,
    kTextBrowse = 0x2E8,
    kTextWaitingToStart = 0x1E5E,
};

// The text of id in the current language, or the built-in English literal
// when no module has a non-empty text for it.
[[nodiscard]] QString localisedText(std::uint32_t id);

// The English literal of one of the identifiers above.
[[nodiscard]] QString englishText(std::uint32_t id);
