// The control sector through which the updater and the calculator talk: the
// host writes a 512-byte command record at 87040 and, for a command that
// expects an answer, reads the same sector back, where the calculator has put
// its response.
#pragma once

#include "device/disk_io.h"

#include <array>
#include <cstdint>

constexpr std::uint64_t kControlSectorPos = 87040; // sector 170
constexpr std::size_t kControlRecordBytes = 512;
constexpr std::uint32_t kCommandMagic = 0xAA5555AA;
constexpr std::uint32_t kCommandSignature = 0x4D545A51; // "QZTM" in file order
constexpr std::uint32_t CMD_PROGRESS = 0xBEDC;
constexpr std::uint32_t CMD_FINISH = 0xBEC1;
constexpr std::uint32_t kAcceptedBit = 0x80000000;
constexpr std::size_t kControlAreaBytes = 15360;      // 30 sectors
constexpr std::size_t kFinalControlAreaBytes = 15872; // 31 sectors
constexpr int kProgressAttempts = 6;

struct ControlRecord {
    std::array<std::uint8_t, kControlRecordBytes> bytes{};
};

// Magic, signature, length 512, code and argument, little-endian; the rest zero.
[[nodiscard]] ControlRecord makeControlRecord(std::uint32_t command, std::uint32_t argument);

// Little-endian 32-bit field of a record or response.
[[nodiscard]] std::uint32_t recordField(const ControlRecord& record, std::size_t offset);

// Writes the record at 87040 and reads the sector back into response (also
// when the write failed); the disk position afterwards is the one before.
// True when both the write and the read succeeded.
[[nodiscard]] bool controlExchange(diskio::BlockIo& disk, const ControlRecord& record,
                                   ControlRecord& response);

// Writes the record at 87040 and puts the position back. True when written.
[[nodiscard]] bool controlWrite(diskio::BlockIo& disk, const ControlRecord& record);

// Reads 30 sectors (31 when final) from 87040 and discards them. The position
// is left after the data read. Nothing depends on what the read brings back,
// or on whether it succeeds, so there is no outcome to report.
void readControlArea(diskio::BlockIo& disk, bool final);

// Up to six exchanges until the calculator accepts the progress.
[[nodiscard]] bool sendProgress(diskio::BlockIo& disk, std::uint32_t percent);

// The finish record, written once; no response is read.
[[nodiscard]] bool sendFinish(diskio::BlockIo& disk);
