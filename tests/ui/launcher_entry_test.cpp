// The signal Linux docks read for the launcher icon's progress: its form, and
// that it reaches a listener on a real (private) session bus.
#include "ui/progress_outside_linux.h"

#include <QDBusArgument>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

Q_DECLARE_METATYPE(OutsideProgress)

class LauncherEntryTest : public QObject {
    Q_OBJECT
private slots:
    void message_data();
    void message();
    void reachesTheBus();

public slots:
    void onUpdate(const QDBusMessage& message) { received_ << message; }

private:
    QList<QDBusMessage> received_;
};

void LauncherEntryTest::message_data() {
    QTest::addColumn<OutsideProgress>("state");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<bool>("urgent");
    using Mode = OutsideProgress::Mode;
    QTest::newRow("running") << OutsideProgress{Mode::Running, 0.25} << true << false;
    QTest::newRow("done") << OutsideProgress{Mode::Running, 1.0} << true << false;
    QTest::newRow("failed") << OutsideProgress{Mode::Failed, 0.25} << false << true;
    QTest::newRow("hidden") << OutsideProgress{Mode::Hidden, 0.0} << false << false;
}

void LauncherEntryTest::message() {
    QFETCH(OutsideProgress, state);
    QFETCH(bool, visible);
    QFETCH(bool, urgent);
    const QDBusMessage message = launcherEntryUpdate(state);
    QCOMPARE(message.type(), QDBusMessage::SignalMessage);
    QVERIFY(message.path().startsWith(QLatin1String("/com/canonical/unity/launcherentry/")));
    QCOMPARE(message.interface(), QStringLiteral("com.canonical.Unity.LauncherEntry"));
    QCOMPARE(message.member(), QStringLiteral("Update"));
    const QVariantList args = message.arguments();
    QCOMPARE(args.size(), 2);
    QCOMPARE(args[0].toString(), QStringLiteral("application://vela-updater.desktop"));
    const QVariantMap properties = args[1].toMap();
    // Docks read the progress as a double and the flags as booleans.
    QCOMPARE(properties.value("progress").userType(), int(QMetaType::Double));
    QCOMPARE(properties.value("progress").toDouble(), state.fraction);
    QCOMPARE(properties.value("progress-visible").userType(), int(QMetaType::Bool));
    QCOMPARE(properties.value("progress-visible").toBool(), visible);
    QCOMPARE(properties.value("urgent").toBool(), urgent);
}

// Sent on a bus of its own, the signal arrives with its URI and a{sv}
// properties, and the entry hides its progress when it goes away.
void LauncherEntryTest::reachesTheBus() {
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed");
    QProcess bus;
    bus.start(daemon, {"--session", "--nofork", "--print-address=1"});
    QVERIFY(bus.waitForStarted());
    auto stop = qScopeGuard([&] {
        bus.terminate();
        bus.waitForFinished();
    });
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromLocal8Bit(bus.readLine()).trimmed();
    QDBusConnection listener = QDBusConnection::connectToBus(address, "listener");
    QDBusConnection sender = QDBusConnection::connectToBus(address, "sender");
    QVERIFY(listener.isConnected() && sender.isConnected());
    QVERIFY(listener.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                             this, SLOT(onUpdate(QDBusMessage))));
    {
        QObject owner;
        ProgressOutside* entry = makeLauncherEntry(sender, &owner);
        entry->setRunning(0.5);
        QTRY_COMPARE(received_.size(), 1);
    }
    QTRY_COMPARE(received_.size(), 2);
    const QVariantList running = received_[0].arguments();
    QCOMPARE(running.value(0).toString(), kLauncherAppUri);
    QVariantMap properties;
    running.value(1).value<QDBusArgument>() >> properties;
    QCOMPARE(properties.value("progress").toDouble(), 0.5);
    QCOMPARE(properties.value("progress-visible").toBool(), true);
    received_[1].arguments().value(1).value<QDBusArgument>() >> properties;
    QCOMPARE(properties.value("progress-visible").toBool(), false);
    QDBusConnection::disconnectFromBus("listener");
    QDBusConnection::disconnectFromBus("sender");
}

QTEST_GUILESS_MAIN(LauncherEntryTest)
#include "launcher_entry_test.moc"
