#include "app/instance_guard.h"

const char kInstanceKey[] = "MIRELU";

InstanceGuard::InstanceGuard(const QString& key) : key_(key), memory_(key) {}

bool InstanceGuard::acquire() {
    // On Unix a segment outlives a process killed without warning, and would
    // refuse every later start. Attaching and detaching once removes such a
    // segment when nobody else is attached to it; a live instance stays
    // attached, so its segment survives and create() below still fails.
    {
        QSharedMemory probe(key_);
        if (probe.attach())
            probe.detach();
    }
    return memory_.create(1, QSharedMemory::ReadWrite);
}
