#include "device/control_sector.h"

#include "base/byte_order.h"

#include "device/aligned_buffer.h"
#include "device/device_log.h"

#include <cstring>

namespace {

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

ControlRecord makeControlRecord(std::uint32_t command, std::uint32_t argument) {
    ControlRecord record;
    writeLE32(record.bytes.data() + 0, kCommandMagic);
    writeLE32(record.bytes.data() + 4, kCommandSignature);
    writeLE32(record.bytes.data() + 8, static_cast<std::uint32_t>(kControlRecordBytes));
    writeLE32(record.bytes.data() + 12, command);
    writeLE32(record.bytes.data() + 16, argument);
    return record;
}

std::uint32_t recordField(const ControlRecord& record, std::size_t offset) {
    return readLE32(record.bytes.data() + offset);
}

namespace {

// Writes the record into the control sector and, when a response is wanted,
// reads the sector back at once. The disk's position is put back where it
// was, so a report between two data chunks does not disturb the data stream.
bool writeControlRecord(diskio::BlockIo& disk, const ControlRecord& record,
                        ControlRecord* response) {
    AlignedBuffer io(kControlRecordBytes);
    if (!io.valid())
        return false;
    std::uint64_t remembered = 0;
    const bool haveRemembered = disk.tell(remembered);
    std::memcpy(io.data(), record.bytes.data(), kControlRecordBytes);
    const bool wrote = disk.seek(kControlSectorPos) && disk.write(io.data(), kControlRecordBytes);
    bool read = true;
    if (response != nullptr) {
        // The response is read even after a failed write: a calculator that
        // took the record may still have answered.
        std::size_t got = 0;
        read = disk.seek(kControlSectorPos) && disk.read(io.data(), kControlRecordBytes, got) &&
               got == kControlRecordBytes;
        std::memcpy(response->bytes.data(), io.data(), kControlRecordBytes);
    }
    if (haveRemembered)
        (void)disk.seek(remembered);
    return wrote && read;
}

} // namespace

bool controlExchange(diskio::BlockIo& disk, const ControlRecord& record, ControlRecord& response) {
    return writeControlRecord(disk, record, &response);
}

bool controlWrite(diskio::BlockIo& disk, const ControlRecord& record) {
    return writeControlRecord(disk, record, nullptr);
}

void readControlArea(diskio::BlockIo& disk, bool final) {
    AlignedBuffer area(16384);
    if (area.valid() && disk.seek(kControlSectorPos)) {
        std::size_t got = 0;
        (void)disk.read(area.data(), final ? kFinalControlAreaBytes : kControlAreaBytes, got);
    }
}

bool sendProgress(diskio::BlockIo& disk, std::uint32_t percent) {
    const ControlRecord record = makeControlRecord(CMD_PROGRESS, percent);
    for (int attempt = 1; attempt <= kProgressAttempts; ++attempt) {
        ControlRecord response;
        const bool exchanged = controlExchange(disk, record, response);
        const std::uint32_t status = recordField(response, 12);
        if (exchanged && status == (kAcceptedBit | CMD_PROGRESS)) {
            deviceLog("control: progress " + std::to_string(percent) + " accepted on attempt " +
                      std::to_string(attempt));
            return true;
        }
        deviceLog("control: progress " + std::to_string(percent) + " attempt " +
                  std::to_string(attempt) +
                  (exchanged ? " answered with status " + hex(status) : " exchange failed"));
    }
    return false;
}

bool sendFinish(diskio::BlockIo& disk) {
    const bool wrote = controlWrite(disk, makeControlRecord(CMD_FINISH, 0));
    deviceLog(wrote ? "control: finish written" : "control: finish could not be written");
    return wrote;
}
