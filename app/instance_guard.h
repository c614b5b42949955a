// Only one updater runs at a time, machine-wide: a one-byte shared memory
// segment under a fixed key is the token.
#pragma once

#include <QSharedMemory>
#include <QString>

class InstanceGuard {
public:
    explicit InstanceGuard(const QString& key);
    // True when this process now holds the token.
    [[nodiscard]] bool acquire();

private:
    QString key_;
    QSharedMemory memory_;
};

extern const char kInstanceKey[]; // "MIRELU"
