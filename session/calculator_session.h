// One calculator's whole update, apart from any other calculator: each file
// with its retries by the update's rule, then the finish command. Several
// sessions run side by side, one thread each, and none waits for another.
// Plain C++17, no Qt.
#pragma once

#include "device/calculator_holds.h"
#include "device/disk_identity.h"
#include "device/update_disk.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct SessionFile {
    std::u16string path;
    std::string name; // how reports name it
    std::uint64_t diskOffset = 0;
    std::uint64_t size = 0;
};

// What a session reports as it goes; called on the session's own threads (a
// transfer thread for progress), so a receiver shared by sessions locks.
class SessionObserver {
public:
    virtual ~SessionObserver() = default;
    virtual void fileStarted(const DiskIdentity& disk, const SessionFile& file) = 0;
    virtual void progress(const DiskIdentity& disk, int percent) = 0;
    virtual void fileEnded(const DiskIdentity& disk, const SessionFile& file, ResultCode code,
                           const std::u16string& cause) = 0;
    // The file failed and is tried again; attempt counts the retries (1..5).
    virtual void retrying(const DiskIdentity& disk, ResultCode code, int attempt) = 0;
    // The finish command went out (code 0) or could not.
    virtual void finished(const DiskIdentity& disk, ResultCode code,
                          const std::u16string& cause) = 0;
};

struct SessionResult {
    // 0 when every file was written and the finish command went out; else
    // the failure that ended the update, or kResultStopped.
    ResultCode result = kResultOk;
    std::u16string cause;
    int filesWritten = 0;
    bool finishSent = false;
    // Told to stop: the calculator is left incomplete and gets no finish command.
    bool stopped = false;
};

class CalculatorSession {
public:
    // stopNow, when given, ends the session after the chunk being written.
    CalculatorSession(DiskIdentity disk, std::vector<SessionFile> files, SessionObserver& observer,
                      const std::atomic<bool>* stopNow = nullptr);

    // Blocks until the update of this calculator has ended.
    [[nodiscard]] SessionResult run();

private:
    DiskIdentity disk_;
    std::vector<SessionFile> files_;
    SessionObserver& observer_;
    const std::atomic<bool>* stopNow_;
    CalculatorHolds holds_; // from the first write to the finish command
};
