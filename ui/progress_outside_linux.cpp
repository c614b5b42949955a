#include "ui/progress_outside_linux.h"

#include <QGuiApplication>
#include <QVariantMap>
#include <QWidget>

namespace {

class LauncherEntry : public ProgressOutside {
public:
    LauncherEntry(QDBusConnection bus, QObject* parent) : ProgressOutside(parent), bus_(bus) {}

    // A dock keeps the last state it was sent, also after the program ended.
    ~LauncherEntry() override { setHidden(); }

protected:
    void apply(const OutsideProgress& state) override {
        (void)bus_.send(launcherEntryUpdate(state));
    }

private:
    QDBusConnection bus_;
};

} // namespace

QDBusMessage launcherEntryUpdate(const OutsideProgress& state) {
    // The path only has to be a valid object path of this program; docks
    // listen to the interface and match the entry by the URI.
    const QString path =
        QStringLiteral("/com/canonical/unity/launcherentry/%1").arg(qHash(kLauncherAppUri, 0));
    QDBusMessage message = QDBusMessage::createSignal(
        path, QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    QVariantMap properties;
    properties.insert(QStringLiteral("progress"), state.fraction);
    properties.insert(QStringLiteral("progress-visible"),
                      state.mode == OutsideProgress::Mode::Running);
    // The launcher has no error state; asking for attention is how a dock
    // marks a program that needs the user.
    properties.insert(QStringLiteral("urgent"), state.mode == OutsideProgress::Mode::Failed);
    message.setArguments({kLauncherAppUri, properties});
    return message;
}

ProgressOutside* makeLauncherEntry(const QDBusConnection& bus, QObject* parent) {
    return new LauncherEntry(bus, parent);
}

ProgressOutside* ProgressOutside::createForDesktop(QWidget* window) {
    // Only a desktop session has docks: X11 or Wayland with a session bus.
    const QString platform = QGuiApplication::platformName();
    if (platform != QLatin1String("xcb") && !platform.startsWith(QLatin1String("wayland")))
        return nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return nullptr;
    return makeLauncherEntry(bus, window);
}
