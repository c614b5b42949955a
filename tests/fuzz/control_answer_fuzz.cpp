// libFuzzer target for the host's side of the control sector: sendProgress
// against a disk whose read-back of the control sector returns the fuzzer's
// bytes, and whose calls fail where the fuzzer says. Input:
//   byte 0        the percentage reported (modulo 101)
//   bytes 1-8     the disk position before the report, little-endian
//   then, for each exchange the disk is asked for (tell() opens one):
//     1 byte      faults: bit 0 tell fails, bit 1 the seek before the write
//                 fails, bit 2 the write fails, bit 3 the seek before the read
//                 fails, bit 4 the read fails, bit 5 the seek back fails
//     512 bytes   the sector read back (fewer at the end of the input: a
//                 short read)
// Properties: no crash; the report is accepted exactly when, in one of the
// first six exchanges, write and read both succeeded and the status word read
// back is 0x8000BEDC, and it stops there; only whole 512-byte records of the
// progress command are written, at the control sector only; the position is
// put back whenever the disk let it. Then the finish command, on the next
// exchange of the script: written once, nothing read back, position kept.
#include "device/control_sector.h"

#include "base/byte_order.h"
#include "fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

enum Fault : std::uint8_t {
    kTellFails = 1,
    kSeekWriteFails = 2,
    kWriteFails = 4,
    kSeekReadFails = 8,
    kReadFails = 16,
    kSeekBackFails = 32,
};

struct Exchange {
    std::uint8_t faults = 0;
    const std::uint8_t* answer = nullptr;
    std::size_t answerLength = 0;
};

class ScriptedDisk : public diskio::BlockIo {
public:
    ScriptedDisk(const std::uint8_t* data, std::size_t size, std::uint64_t pos,
                 std::uint32_t percent)
        : data_(data), size_(size), pos_(pos), percent_(percent) {}

    bool seek(std::uint64_t pos) override {
        ++seeks_;
        // A progress exchange seeks to write, to read and back; the finish
        // command only to write and back.
        const bool readFollows = command_ == CMD_PROGRESS;
        const std::uint8_t fault = seeks_ == 1                  ? kSeekWriteFails
                                   : seeks_ == 2 && readFollows ? kSeekReadFails
                                                                : kSeekBackFails;
        if (current_.faults & fault)
            return false;
        pos_ = pos;
        return true;
    }

    bool tell(std::uint64_t& pos) override {
        // controlExchange asks for the position first: a new exchange begins.
        ++exchanges_;
        seeks_ = 0;
        current_ = Exchange{};
        if (offset_ < size_)
            current_.faults = data_[offset_++];
        const std::size_t left = size_ - offset_;
        current_.answerLength = left < kControlRecordBytes ? left : kControlRecordBytes;
        current_.answer = data_ + offset_;
        offset_ += current_.answerLength;
        if (current_.faults & kTellFails)
            return false;
        pos = pos_;
        return true;
    }

    bool read(void* buffer, std::size_t len, std::size_t& got) override {
        FUZZ_CHECK(pos_ == kControlSectorPos && len == kControlRecordBytes);
        got = 0;
        ++reads_;
        if (current_.faults & kReadFails)
            return false;
        std::memcpy(buffer, current_.answer, current_.answerLength);
        got = current_.answerLength;
        pos_ += got;
        readOk_ = got == kControlRecordBytes;
        return true;
    }

    bool write(const void* buffer, std::size_t len) override {
        FUZZ_CHECK(pos_ == kControlSectorPos && len == kControlRecordBytes);
        ControlRecord written;
        std::memcpy(written.bytes.data(), buffer, len);
        const ControlRecord expected = makeControlRecord(command_, percent_);
        FUZZ_CHECK(std::memcmp(written.bytes.data(), expected.bytes.data(), 20) == 0);
        if (current_.faults & kWriteFails)
            return false;
        pos_ += len;
        wroteOk_ = true;
        return true;
    }

    bool flush() override { return true; }
    bool size(std::uint64_t& bytes) override {
        bytes = 1ull << 30;
        return true;
    }
    std::u16string lastErrorText() const override { return u"scripted failure"; }

    // Called after each exchange has ended (at the next tell or at the end).
    bool exchangeAccepted() const {
        if (!wroteOk_ || !readOk_)
            return false;
        const std::uint8_t* s = current_.answer + 12;
        const std::uint32_t status = readLE32(s);
        return status == (kAcceptedBit | CMD_PROGRESS);
    }
    void resetOutcome() {
        wroteOk_ = false;
        readOk_ = false;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    std::uint64_t pos_;
    std::uint32_t percent_;
    std::uint32_t command_ = CMD_PROGRESS;
    int exchanges_ = 0;
    int reads_ = 0;
    int seeks_ = 0;
    Exchange current_;
    bool wroteOk_ = false;
    bool readOk_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9)
        return 0;
    const std::uint32_t percent = data[0] % 101;
    std::uint64_t start = 0;
    for (int i = 8; i >= 1; --i)
        start = start << 8 | data[i];
    data += 9;
    size -= 9;

    // The expected outcome, worked out from the script alone, exchange by
    // exchange, with controlExchange driven directly.
    int expectedExchanges = kProgressAttempts;
    bool expectedAccepted = false;
    bool positionKept = true;
    {
        ScriptedDisk disk(data, size, start, percent);
        for (int attempt = 1; attempt <= kProgressAttempts; ++attempt) {
            disk.resetOutcome();
            ControlRecord response;
            const bool exchanged =
                controlExchange(disk, makeControlRecord(CMD_PROGRESS, percent), response);
            FUZZ_CHECK(disk.exchanges_ == attempt);
            FUZZ_CHECK(exchanged == (disk.wroteOk_ && disk.readOk_));
            if (exchanged)
                FUZZ_CHECK(std::memcmp(response.bytes.data(), disk.current_.answer,
                                       kControlRecordBytes) == 0);
            positionKept = positionKept && !(disk.current_.faults & (kTellFails | kSeekBackFails));
            if (positionKept)
                FUZZ_CHECK(disk.pos_ == start);
            if (disk.exchangeAccepted()) {
                expectedAccepted = true;
                expectedExchanges = attempt;
                break;
            }
        }
    }

    ScriptedDisk disk(data, size, start, percent);
    const bool result = sendProgress(disk, percent);
    FUZZ_CHECK(result == expectedAccepted);
    FUZZ_CHECK(disk.exchanges_ == expectedExchanges);
    if (positionKept)
        FUZZ_CHECK(disk.pos_ == start);

    // The finish command, on the script's next exchange: one write, nothing
    // read back, the position put back as before.
    const std::uint64_t before = disk.pos_;
    const int readsBefore = disk.reads_;
    disk.command_ = CMD_FINISH;
    disk.percent_ = 0;
    disk.resetOutcome();
    const bool finished = sendFinish(disk);
    FUZZ_CHECK(disk.exchanges_ == expectedExchanges + 1);
    FUZZ_CHECK(disk.reads_ == readsBefore);
    FUZZ_CHECK(finished == disk.wroteOk_);
    if (!(disk.current_.faults & (kTellFails | kSeekBackFails)))
        FUZZ_CHECK(disk.pos_ == before);
    return 0;
}
