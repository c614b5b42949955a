#include "app/instance_guard.h"

const char kInstanceKey[] = "MIRELU";

InstanceGuard::InstanceGuard(const QString& key) : key_(key), memory_(key) {}

bool InstanceGuard::acquire() {
    // On Unix a segment outlives a process killed without warning, and would
    // refuse every later start. Attaching and detaching once removes such a
    // segment when nobody else is attached to it; a live instance stays
    // attached, so its segment survives and create() below still fails.
    // The segment is found through a key file: when that file was gone (a
    // cleaned temporary folder), create() makes a new one, whose key can be
    // a forgotten segment's. Looked at once more through the new file, that
    // segment is removed too.
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            QSharedMemory probe(key_);
            if (probe.attach())
                probe.detach();
        }
        if (memory_.create(1, QSharedMemory::ReadWrite))
            return true;
    }
    return false;
}
