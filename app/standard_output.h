// Text for the terminal or file that started the program, from a program that
// may be a GUI one: Updater.exe has no console of its own on Windows.
#pragma once

#include <string>

// Writes text (ASCII lines ending in "\n") where a console program's stdout
// would go. False when there is nowhere to write it, or the write failed.
[[nodiscard]] bool writeStandardOutput(const std::string& text);
