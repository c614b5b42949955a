// Diagnostics of the device layer: each line goes to the sink the
// application set (calculators.h), and nowhere when it set none.
#pragma once

#include <string>

// Hands line to the sink, if any; control characters are escaped first.
void deviceLog(const std::string& line);
