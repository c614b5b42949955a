#pragma once

#include "session/advice.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

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
    // The list of calculators: its columns and its results.
    kTextColumnCalculator = 0x3001,
    kTextColumnProgress = 0x3002,
    kTextColumnResult = 0x3003,
    kTextRowOk = 0x3004,
    kTextRowLeftAlone = 0x3005,
    kTextRowIncomplete = 0x3006, // %1 of %2 files
    kTextRowFiles = 0x3007,      // %1 of %2 files
    kTextRowFailed = 0x3008,     // %1 the result
    // The fourth line. %1 names calculators.
    kTextLeftAlone = 0x3010,
    kTextTooManyCalculators = 0x3011, // %1 how many
    kTextNotFinished = 0x3012,
    kTextNotFinishedOn = 0x3013,
    kTextDisconnected = 0x3014,
    kTextKeepConnected = 0x3015,
    kTextStoppedUnexpectedly = 0x3016,
    kTextFolder = 0x3019, // %1 the folder
    kTextClose = 0x301A,
    // What screen readers say a line, a button or the list is for.
    kTextAboutStatus = 0x3060,
    kTextAboutFile = 0x3061,
    kTextAboutFourthLine = 0x3062,
    kTextAboutCancel = 0x3063,
    kTextAboutBrowse = 0x3064,
    kTextAboutBar = 0x3065,
    kTextListName = 0x3066,
    kTextAboutList = 0x3067,
};

// The texts other layers write, translated in the modules: the firmware
// scan's sentences from kTextProblemFirst in the order of ProblemSentence,
// the device layer's from kTextPhraseFirst in its order, up to the names of
// calculators, which have identifiers of their own, and what to do after a
// failure from kTextAdviceFirst in the order of Advice.
constexpr std::uint32_t kTextProblemFirst = 0x3020;
constexpr std::uint32_t kTextPhraseFirst = 0x3040;
constexpr std::uint32_t kTextSerialName = 0x3017;
constexpr std::uint32_t kTextPortName = 0x3018;
constexpr std::uint32_t kTextAdviceFirst = 0x3070;

// The text of id in the current language, or the built-in English literal
// when no module has a non-empty text for it.
[[nodiscard]] QString localisedText(std::uint32_t id);

// The English literal of one of the identifiers above.
[[nodiscard]] QString englishText(std::uint32_t id);

// The firmware scan's sentences in the current language, for problemText.
[[nodiscard]] QStringList problemTemplates();

// Qt's own texts (the folder dialog's) in language; English needs none.
// False when the system has no translation of Qt for it.
bool installQtTranslations(int language);

// Hands the device layer its sentences in the current language.
void localiseDeviceTexts();

// What to do next, in the current language; %1 filled in with arg.
[[nodiscard]] QString localisedAdvice(Advice advice, const QString& arg = QString());

namespace ui::testing {
// Every identifier the dialog shows a text of, its own and the other layers'.
[[nodiscard]] std::vector<std::uint32_t> dialogTextIds();
} // namespace ui::testing
