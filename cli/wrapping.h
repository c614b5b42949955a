// The one way vela-update breaks what it says into lines: between words,
// within the terminal's width (80 columns where there is no terminal).
#pragma once

#include <QString>

// Two marks the tool's own texts may hold, never shown. A name holds neither,
// as every name is shown escaped (Reporter::shown) before it is wrapped.
// Where a line's continuation lines begin, when not at its indent
// ("  --wait SECONDS   \thow long...")...
constexpr char16_t kHangHere = u'\t';
// ...and a space no line breaks at ("Try 'vela-update\x1f--help'.").
constexpr char16_t kKeepTogether = u'\x1f';

// The text with every line broken at spaces so that none reaches the last of
// `columns` columns (none is broken when columns is 1 or less). The lines a
// line breaks into keep its indent, or begin where its tab was. A word wider
// than that stays whole.
[[nodiscard]] QString wrapText(const QString& text, int columns);
