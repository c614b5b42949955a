// The record of every update (--report FILE): one JSON line per calculator
// session, appended and flushed to the disk when the session ends, so that a
// crash or a power cut loses at most the line being written, and a line once
// written is never written again. Safe from the sessions' threads.
#pragma once

#include <QFile>
#include <QString>

#include <mutex>

class UpdateReport {
public:
    // Opens FILE for appending, or says why it cannot (empty when it can).
    [[nodiscard]] QString open(const QString& path);
    [[nodiscard]] bool isOpen() const { return file_.isOpen(); }
    // One whole line (a JSON object without its line break), on the disk when
    // this returns true.
    bool append(const QString& line);

private:
    std::mutex lock_;
    QFile file_;
};
