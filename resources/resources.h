#pragma once

// Makes the compiled-in images (":/CalculatorIconX16.png" and the rest), and
// in a Windows build Qt's own translations (":/qt_translations"),
// available; a static library's resources are not registered by themselves.
void initUpdaterResources();
