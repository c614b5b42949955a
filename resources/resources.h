#pragma once

// Makes the compiled-in images (":/CalculatorIconX16.png" and the rest)
// available; a static library's resources are not registered by themselves.
void initUpdaterResources();
