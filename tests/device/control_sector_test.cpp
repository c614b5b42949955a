#include "device/control_sector.h"
#include "harness.h"
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

diskio::BlockIoPtr openUnit0() {
    std::vector<std::u16string> paths;
    if (!diskio::activeDiskSource().listDisks(paths) || paths.empty())
        return nullptr;
    return diskio::activeDiskSource().openDisk(paths[0], {}).io;
}

std::string hexBytes(const ControlRecord& record, std::size_t from, std::size_t count) {
    std::string out;
    char byte[4];
    for (std::size_t i = from; i < from + count; ++i) {
        std::snprintf(byte, sizeof byte, i + 1 < from + count ? "%02X " : "%02X", record.bytes[i]);
        out += byte;
    }
    return out;
}

// A disk whose control sector answers every command with one status.
class AnsweringDisk : public diskio::BlockIo {
public:
    explicit AnsweringDisk(std::uint32_t status) : status_(status) {}
    bool seek(std::uint64_t pos) override { return pos_ = pos, true; }
    bool tell(std::uint64_t& pos) override { return pos = pos_, true; }
    bool read(void* buffer, std::size_t len, std::size_t& got) override {
        ControlRecord answer = makeControlRecord(0, 0);
        for (int i = 0; i < 4; ++i)
            answer.bytes[12 + i] = static_cast<std::uint8_t>(status_ >> (8 * i));
        std::memcpy(buffer, answer.bytes.data(), std::min(len, answer.bytes.size()));
        got = len;
        return true;
    }
    bool write(const void*, std::size_t) override { return true; }
    bool flush() override { return true; }
    bool size(std::uint64_t& bytes) override { return bytes = 1 << 30, true; }
    std::u16string lastErrorText() const override { return {}; }

private:
    std::uint32_t status_;
    std::uint64_t pos_ = 0;
};

} // namespace

// Only the accept bit together with the progress command's own code is the
// calculator's yes.
DEVICE_TEST(progressAcceptRule) {
    struct Row {
        const char* label;
        std::uint32_t status;
        bool accepted;
    };
    const Row rows[] = {
        {"accepted", kAcceptedBit | CMD_PROGRESS, true},
        {"the code without the accept bit", CMD_PROGRESS, false},
        {"the accept bit with the finish command's code", kAcceptedBit | CMD_FINISH, false},
        {"the accept bit with another code", kAcceptedBit | (CMD_PROGRESS + 1), false},
        {"nothing", 0, false},
    };
    for (const Row& row : rows) {
        AnsweringDisk disk(row.status);
        CHECK_EQ(sendProgress(disk, 30), row.accepted, row.label);
    }
}

DEVICE_TEST(controlRecordBytes) {
    struct Row {
        const char* label;
        std::uint32_t command;
        std::uint32_t argument;
        const char* first20;
    };
    const Row rows[] = {
        {"progress 50", CMD_PROGRESS, 50,
         "AA 55 55 AA 51 5A 54 4D 00 02 00 00 DC BE 00 00 32 00 00 00"},
        {"progress 0", CMD_PROGRESS, 0,
         "AA 55 55 AA 51 5A 54 4D 00 02 00 00 DC BE 00 00 00 00 00 00"},
        {"progress 100", CMD_PROGRESS, 100,
         "AA 55 55 AA 51 5A 54 4D 00 02 00 00 DC BE 00 00 64 00 00 00"},
        {"finish", CMD_FINISH, 0, "AA 55 55 AA 51 5A 54 4D 00 02 00 00 C1 BE 00 00 00 00 00 00"},
    };
    for (const Row& row : rows) {
        const ControlRecord record = makeControlRecord(row.command, row.argument);
        CHECK_EQ(hexBytes(record, 0, 20), std::string(row.first20), row.label);
        bool restZero = true;
        for (std::size_t i = 20; i < record.bytes.size(); ++i)
            restZero = restZero && record.bytes[i] == 0;
        CHECK(restZero, row.label);
    }
}

DEVICE_TEST(sendProgressExchanges) {
    struct Row {
        const char* label;
        bool unanswered;
        std::int64_t refuseAt;
        bool accepted;
        int exchanges;
    };
    const Row rows[] = {
        {"answered at once", false, -1, true, 1},
        {"never answered", true, -1, false, 6},
        {"control writes refused", false, 87040, false, 6},
    };
    for (const Row& row : rows) {
        virtual_calculator::Options options;
        options.progressUnanswered = row.unanswered;
        options.refuseWriteAt = row.refuseAt;
        support::freshCalculator(options);
        diskio::BlockIoPtr disk = openUnit0();
        CHECK(disk != nullptr, row.label);
        if (!disk)
            continue;
        CHECK_EQ(sendProgress(*disk, 42), row.accepted, row.label);
        std::vector<std::string> expected;
        for (int i = 0; i < row.exchanges; ++i) {
            expected.push_back(std::string("W 87040 512 PROGRESS 42") +
                               (row.refuseAt >= 0 ? " FAILED" : ""));
            expected.push_back("R 87040 512");
        }
        CHECK_LINES(support::traceText(0), expected, row.label);
    }
}

DEVICE_TEST(controlOperationsAndPosition) {
    // Where the disk stands after each operation, starting from 1 MiB.
    struct Row {
        const char* label;
        int which;
        std::uint64_t after;
        std::vector<std::string> trace;
    };
    const std::uint64_t start = 1 << 20;
    const std::vector<Row> rows = {
        {"exchange restores", 0, start, {"W 87040 512 PROGRESS 7", "R 87040 512"}},
        {"write restores", 1, start, {"W 87040 512 FINISH"}},
        {"30-sector read leaves it after the data", 2, 87040 + 15360, {"R 87040 15360"}},
        {"31-sector read leaves it after the data", 3, 87040 + 15872, {"R 87040 15872"}},
    };
    for (const Row& row : rows) {
        support::freshCalculator();
        diskio::BlockIoPtr disk = openUnit0();
        CHECK(disk != nullptr, row.label);
        if (!disk)
            continue;
        CHECK(disk->seek(start), row.label);
        ControlRecord response;
        switch (row.which) {
        case 0:
            CHECK(controlExchange(*disk, makeControlRecord(CMD_PROGRESS, 7), response), row.label);
            CHECK_EQ(recordField(response, 12), 0x8000BEDCu, row.label);
            break;
        case 1:
            CHECK(controlWrite(*disk, makeControlRecord(CMD_FINISH, 0)), row.label);
            break;
        default:
            readControlArea(*disk, row.which == 3);
        }
        std::uint64_t pos = 0;
        CHECK(disk->tell(pos), row.label);
        CHECK_EQ(pos, row.after, row.label);
        CHECK_LINES(support::traceText(0), row.trace, row.label);
    }
}
