// The start-up benchmark's probe (bench/run_all.sh): the wall clock at which
// the first window is exposed is printed as "first_expose_ns=<ns since the
// epoch>" and the application is asked to end, so that a script can time
// process start to first shown window. Header-only: the updater and the
// minimal Qt program it is compared with use the very same probe.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QWindow>

#include <chrono>
#include <cstdio>

class StartupProbe : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!done_ && event->type() == QEvent::Expose) {
            auto* window = qobject_cast<QWindow*>(watched);
            if (window != nullptr && window->isExposed()) {
                done_ = true;
                const auto now = std::chrono::system_clock::now().time_since_epoch();
                std::printf("first_expose_ns=%lld\n",
                            static_cast<long long>(
                                std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
                std::fflush(stdout);
                QCoreApplication::exit(0);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool done_ = false;
};

inline void installStartupProbe(QCoreApplication& application) {
    application.installEventFilter(new StartupProbe(&application));
}
