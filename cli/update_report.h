// The record of every update (--report FILE): one JSON line per calculator
// session, appended and synced to the disk when the session ends, so that a
// crash or a power cut loses at most the line being written. A line is in the
// file whole or not at all, also with other stations appending to the same
// file: each goes in one write to the file's end, under a lock that every
// vela-update takes on it, and a write that the disk took only part of is
// taken back. A line that could not be written is said, never passed over.
// Safe from the sessions' threads.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <mutex>

class UpdateReport {
public:
    UpdateReport() = default;
    UpdateReport(const UpdateReport&) = delete;
    UpdateReport& operator=(const UpdateReport&) = delete;
    ~UpdateReport();

    // Opens FILE for appending (created when there is none), or says why it
    // cannot (empty when it can). Only a regular file: never a FIFO, which
    // would hold the program until a reader came, nor a device.
    [[nodiscard]] QString open(const QString& path);
    [[nodiscard]] bool isOpen() const;
    // One whole line (a JSON object without its line break), on the disk
    // when this returns true; else not in the file, and error says why.
    [[nodiscard]] bool append(const QString& line, QString& error);
    // A line could not be written: a station takes no calculator after that.
    [[nodiscard]] bool failed() const { return failed_.load(); }

private:
    [[nodiscard]] bool appendLocked(const QByteArray& bytes, QString& error);

    mutable std::mutex lock_;
    std::intptr_t file_ = -1; // a descriptor, or a Windows HANDLE
    // A line cut short could not be taken back: nothing may follow it.
    bool broken_ = false;
    std::atomic<bool> failed_{false};
};

namespace update_report::testing {
// Called in place of the system's sync after each line; false fails it, as
// a disk that cannot keep it would. Null: the system's again.
void setSync(bool (*sync)());
} // namespace update_report::testing
