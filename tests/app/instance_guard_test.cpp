// Starts the real Updater binary several times. The guard is machine-wide, so
// these tests hold a CTest resource lock and check effects, not only codes.
#include "app/instance_guard.h"

#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

#ifndef Q_OS_WIN
#include <sys/ipc.h>
#include <sys/shm.h>
#endif

namespace {

const QString kBinary = QStringLiteral(UPDATER_BINARY);

// True while some process keeps the guard segment attached. On Unix it only
// looks: attaching would take the segment's lock, and a probe that attaches
// while an updater is creating the segment can make that start fail, or leave
// a segment behind that the next start finds as someone else's.
bool guardHeld() {
#ifdef Q_OS_WIN
    QSharedMemory probe(QString::fromLatin1(kInstanceKey));
    if (!probe.attach())
        return false;
    probe.detach();
    return true;
#else
    // The segment's key comes from the file Qt keeps for it.
    const QByteArray keyFile =
        QFile::encodeName(QSharedMemory(QString::fromLatin1(kInstanceKey)).nativeKey());
    const key_t key = ::ftok(keyFile.constData(), 'Q');
    const int id = key == -1 ? -1 : ::shmget(key, 0, 0);
    struct shmid_ds seen {};
    return id != -1 && ::shmctl(id, IPC_STAT, &seen) == 0 && seen.shm_nattch > 0;
#endif
}

} // namespace

class InstanceGuardTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void secondStartEndsAtOnceWhileFirstRuns();
    void startAfterKilledInstanceSucceeds();
    void versionAnswersWithoutDisplayOrGuard();
    void guardInProcess();

private:
    void start(QProcess& process);
    QTemporaryDir folder_;
};

void InstanceGuardTest::init() {
    QVERIFY(folder_.isValid());
    QVERIFY2(!guardHeld(), "another updater is running on this machine");
}

void InstanceGuardTest::start(QProcess& process) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("UPDATER_VIRTUAL_CALCULATOR");
    process.setProcessEnvironment(env);
    process.setProgram(kBinary);
    process.setArguments({folder_.path(), QStringLiteral("1")});
    process.start();
    QVERIFY(process.waitForStarted());
}

void InstanceGuardTest::secondStartEndsAtOnceWhileFirstRuns() {
    QProcess first;
    start(first);
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(), 10000);

    QProcess second;
    start(second);
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(second.readAllStandardOutput().isEmpty());

    // The first is untouched by the second start.
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(guardHeld());

    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

void InstanceGuardTest::startAfterKilledInstanceSucceeds() {
    QProcess first;
    start(first);
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(), 10000);
    first.kill(); // SIGKILL, or TerminateProcess on Windows: no chance to clean up
    QVERIFY(first.waitForFinished(10000));

    // The dead instance's segment is still there; the next start must win anyway.
    QProcess next;
    start(next);
    QVERIFY2(!next.waitForFinished(3000), next.readAllStandardError().right(2000).constData());
    QCOMPARE(next.state(), QProcess::Running);
    QVERIFY(guardHeld());

    next.kill();
    QVERIFY(next.waitForFinished(10000));
    QVERIFY(!guardHeld());
}

void InstanceGuardTest::versionAnswersWithoutDisplayOrGuard() {
    QProcess first;
    start(first);
    QTRY_VERIFY_WITH_TIMEOUT(guardHeld(), 10000);

    // No display of any kind: the answer comes before Qt looks for one, and
    // before the guard that would end a second updater silently.
    QProcess version;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    version.setProcessEnvironment(env);
    version.start(kBinary, {QStringLiteral("--version")});
    QVERIFY(version.waitForFinished(10000));
    QCOMPARE(version.exitStatus(), QProcess::NormalExit);
    QCOMPARE(version.exitCode(), 0);
    const QStringList lines = QString::fromLatin1(version.readAllStandardOutput())
                                  .remove(QLatin1Char('\r'))
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("Updater " UPDATER_VERSION));
    QVERIFY2(lines.value(1).startsWith(QLatin1String("License: GPL-3.0-or-later <https://")),
             qPrintable(lines.value(1)));
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished(10000));
}

void InstanceGuardTest::guardInProcess() {
    InstanceGuard first(QString::fromLatin1(kInstanceKey));
    QVERIFY(first.acquire());
    InstanceGuard second(QString::fromLatin1(kInstanceKey));
    QVERIFY(!second.acquire());

    // A holder that never answers a request to come forward, as a hung
    // updater: the real binary asks in vain, then ends as before.
    QProcess binary;
    start(binary);
    QVERIFY(binary.waitForFinished(10000));
    QCOMPARE(binary.exitCode(), 0);
}

QTEST_GUILESS_MAIN(InstanceGuardTest)
#include "instance_guard_test.moc"
