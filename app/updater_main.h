// The updater from process start to the end of its event loop: the
// single-instance guard, the one dialog, the first folder scan. main() is this
// and nothing else; a benchmark runs the very same start with a probe of its
// own (atStart, called once the application object exists).
#pragma once

#include <QApplication>

#include <functional>

int runUpdater(int argc, char** argv, const std::function<void(QApplication&)>& atStart = nullptr);
