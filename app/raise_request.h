// A second start of the updater brings the first one's window forward instead
// of ending unseen. The first listens beside its single-instance guard; a
// start that finds the guard taken asks it to come forward, then ends. The
// means are each system's own: a Unix socket on Linux, a named event on
// Windows.
#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;

class RaiseListener {
public:
    // Listens under key until destroyed. Each request runs onRequest on the
    // thread of receiver (the GUI thread), through its event loop, so that a
    // second start never waits on the first's GUI thread nor blocks it.
    // Requests that arrive close together may come as one. When listening is
    // impossible the updater runs on: a second start only cannot raise it.
    RaiseListener(const QString& key, QObject* receiver, std::function<void()> onRequest);
    ~RaiseListener();
    RaiseListener(const RaiseListener&) = delete;
    RaiseListener& operator=(const RaiseListener&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Asks the updater listening under key to come forward. The holder of the
// guard may still be starting, so this tries for about a second, never
// longer: a holder that died or hangs costs no more. True when the request
// was handed over.
bool requestRaise(const QString& key);
