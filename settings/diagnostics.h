// Logging categories of the updater, the dialog's and vela-update's alike.
// All are silent by default, since the updater keeps no log;
// QT_LOGGING_RULES="updater.*=true" turns them on.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDevice)
Q_DECLARE_LOGGING_CATEGORY(lcWorker)
Q_DECLARE_LOGGING_CATEGORY(lcUi)

// A line of the device layer's diagnostics (UTF-8) to the updater.device
// category; each program hands it to the device layer as its log sink.
void deviceLogLine(const char* line);
