// The one way vela-update breaks its sentences into lines: between words,
// within a width, each line keeping its indent.
#pragma once

#include <QString>

// The text with every line broken at spaces so that none reaches the last of
// `columns` columns; a line that breaks keeps its indent on the lines it breaks
// into. A word wider than that stays whole. columns of 1 or less: as it is.
[[nodiscard]] QString wrapText(const QString& text, int columns);
