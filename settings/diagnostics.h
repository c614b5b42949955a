// Logging categories of the updater, the dialog's and vela-update's alike.
// All are silent by default, since the updater keeps no log;
// QT_LOGGING_RULES="updater.*=true" turns them on.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcDevice)
Q_DECLARE_LOGGING_CATEGORY(lcWorker)
Q_DECLARE_LOGGING_CATEGORY(lcUi)

// Sends the device layer's diagnostics to the updater.device category.
void routeDeviceLog();
