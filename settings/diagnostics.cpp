#include "settings/diagnostics.h"

// Info and debug are off unless the rules ask for them.
Q_LOGGING_CATEGORY(lcDevice, "updater.device", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWorker, "updater.worker", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUi, "updater.ui", QtWarningMsg)

void deviceLogLine(const char* line) {
    qCInfo(lcDevice).noquote() << QString::fromUtf8(line);
}
