#pragma once

// Lets Qt 5 scale the dialog to the screen's scale factor (200 % on a 4K
// laptop) and pick icon pixmaps for the device pixels instead of stretching
// the 100 % ones. Qt reads both settings only while the QApplication is made,
// so this is called before it exists.
void enableHighDpi();
