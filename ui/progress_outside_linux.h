// Linux's place for the progress: the launcher icon of docks that follow
// Unity's LauncherEntry signal (Plasma's task manager, Dash to Dock, Plank).
// Nothing answers it; a dock that knows the program's desktop entry shows it.
#pragma once

#include "ui/progress_outside.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>

// The desktop entry the docks match the signal to.
inline const QString kLauncherAppUri = QStringLiteral("application://vela-updater.desktop");

// The "Update" signal that shows state on the launcher icon.
[[nodiscard]] QDBusMessage launcherEntryUpdate(const OutsideProgress& state);

// Sends the signal on bus; a child of parent.
[[nodiscard]] ProgressOutside* makeLauncherEntry(const QDBusConnection& bus, QObject* parent);
