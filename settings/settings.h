// The user's language and work folder: from the command line, or from the
// desktop suite's stored settings with the system locale and the Documents
// folder as defaults. Settings are only ever read.
#pragma once

#include <QString>

#include <cstdint>

extern const char kOrganizationName[];   // "Orvane"
extern const char kOrganizationDomain[]; // the maker's web domain
extern const char kApplicationName[];    // "Quillon"

// The language of the system locale, 1 when none of the eight matches.
[[nodiscard]] std::int32_t systemLanguage();
// The same rule for a given locale name such as "fr_FR".
[[nodiscard]] std::int32_t languageOfLocaleName(const QString& localeName);

// Registers the search prefixes "icons" and "resource" for the folders of
// those names beside the executable.
void registerSearchDirs();

struct StoredSettings {
    std::int32_t language; // as stored, 0 when not a number; may be out of range
    QString workFolder;    // with "/" separators
};

// Sets the application identity and reads "Language" and "WorkFolder".
[[nodiscard]] StoredSettings readStoredSettings();

// The first Documents location followed by "/Quillon"; the home folder stands
// in when the platform reports no Documents location.
[[nodiscard]] QString defaultWorkFolder();
