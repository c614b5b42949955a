#include "strings/language_table.h"

const LanguageInfo languageTable[kLastLanguage] = {
    {9, "en", "EN", "en", "English"},
    {11, "zh", "CHS", "zh", "Simplified Chinese"},
    {10, "fr", "FRA", "fr",
     "Fran\xE7"
     "ais"},
    {63, "de", "DEU", "de", "Deutsch"},
    {64, "es", "ESP", "es", "Espa\xF1ol"},
    {65, "nl", "NLD", "nl", "Nederlands"},
    {66, "pt", "PTB", "pt-br", "Portugu\xEAs"},
    {12, "ja", "JPN", "ja", "Japanese"},
};
