#include "device/virtual/virtual_calculator.h"

#include "base/pacing.h"
#include "base/utf16_text.h"
#include "device/control_sector.h"
#include "device/device_log.h"
#include "device/disk_io.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace virtual_calculator {

namespace {

using Clock = std::chrono::steady_clock;
using Sector = std::array<std::uint8_t, 512>;

// Large enough for every image of an update; nothing is allocated for
// sectors never written.
constexpr std::uint64_t kCapacity = 1ull << 30;

struct Unit {
    std::map<std::uint64_t, Sector> sectors; // by sector number
    std::vector<TraceEntry> trace;
    int finishes = 0;
    std::uint64_t extent = 0;
    bool unopenable = false;
    // Bumped when the unit is unplugged, so that handles opened before fail.
    int generation = 0;
    bool gone = false;
    bool comesBack = false;
    Clock::time_point backAt;
    int writesUntilVanish = -1;
    int vanishMs = 0;
    bool responsePending = false;
    ControlRecord response;
    Clock::time_point arriveAt; // not listed before
    bool cameBack = false;      // plugged in again once after its finish
    // Bumped each time the unit appears, as the kernel numbers disks: a
    // calculator without a serial is told from its successor by it.
    std::uint64_t sequence = 0;
    std::uint64_t heldSequence = 0; // 0: no run holds the unit
    int round = 0;                  // calculators that took its place so far (renew_ms)
    bool renewing = false;          // the next one plugged in is another calculator
};

std::atomic<std::uint64_t> nextSequence{1};

std::string unitSerial(int number) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "%08d", number);
    return serial;
}

// Named as the system names disks: a Windows interface path (Windows makes
// up the instance of a device without a serial from its port), a device
// node on Linux. number: the unit's, or a later calculator's at its place.
std::u16string unitPath(int number, bool serial) {
#ifdef _WIN32
    const std::string instance =
        serial ? unitSerial(number) + "&0" : "7&1f3a2b&0&" + std::to_string(number);
    return u"\\\\?\\usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#" + toUtf16(instance) +
           u"#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
#else
    (void)serial;
    return u"/dev/vcalc" + toUtf16(std::to_string(number));
#endif
}

class Calculator;
std::mutex installLock;
std::shared_ptr<Calculator> active; // guarded by installLock

class Calculator : public diskio::DiskSource, public std::enable_shared_from_this<Calculator> {
public:
    explicit Calculator(const Options& options) : options_(options) {
        units_.resize(static_cast<std::size_t>(std::clamp(options.units, 1, kMaxUnits)));
        appearAt_ = Clock::now() + std::chrono::milliseconds(pacing::scaledMs(options.appearMs));
        if (options.unopenableUnit >= 0 && options.unopenableUnit < static_cast<int>(units_.size()))
            units_[static_cast<std::size_t>(options.unopenableUnit)].unopenable = true;
        for (std::size_t i = 0; i < units_.size(); ++i)
            units_[i].sequence = nextSequence.fetch_add(1);
        for (std::size_t i = 0; i < units_.size(); ++i)
            units_[i].arriveAt =
                appearAt_ +
                std::chrono::milliseconds(pacing::scaledMs(static_cast<int>(std::min<std::int64_t>(
                    std::int64_t(options.arriveMs) * std::int64_t(i), 1 << 30))));
        if (options.vanishAfterWrites >= 0) {
            units_[0].writesUntilVanish = options.vanishAfterWrites;
            units_[0].vanishMs = options.vanishMs;
        }
    }

    diskio::MatchRule matchRule() const override { return diskio::MatchRule::Listed; }

    bool listDisks(std::vector<std::u16string>& paths) override {
        std::lock_guard<std::mutex> hold(lock_);
        paths.clear();
        if (options_.absent || Clock::now() < appearAt_)
            return true;
        for (std::size_t i = 0; i < units_.size(); ++i) {
            Unit& unit = units_[i];
            if (unit.gone && unit.comesBack && Clock::now() >= unit.backAt)
                plugIn(unit);
            if (!unit.gone && Clock::now() >= unit.arriveAt)
                paths.push_back(pathOf(static_cast<int>(i)));
        }
        return true;
    }

    // Every unit is the calculator: who it is comes from the unit itself.
    diskio::DiskCheck checkDisk(const std::u16string& path, const char16_t*,
                                const char16_t*) override {
        std::lock_guard<std::mutex> hold(lock_);
        diskio::DiskCheck check;
        const int index = indexOf(path);
        if (index < 0) {
            check.whyNot = "no such unit";
            return check;
        }
        check.isUpdateDisk = true;
        check.identity = identityOf(index);
        return check;
    }

    diskio::OpenResult openDisk(const std::u16string& path, const diskio::DiskCheck&) override;
    diskio::HoldResult holdDisk(const std::u16string& path,
                                const diskio::DiskCheck& expected) override;

    // --- called by the handles, under no lock of theirs ---
    bool read(int index, int generation, std::uint64_t pos, void* buffer, std::size_t len);
    bool write(int index, int generation, std::uint64_t pos, const void* buffer, std::size_t len);
    bool flush(int index, int generation);

    // A disk that answers slowly, outside the lock: units stay independent.
    void answerSlowly() const {
        if (slowMs_ > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(slowMs_));
    }

    std::mutex lock_;
    Options options_;
    std::vector<Unit> units_;
    Clock::time_point appearAt_;
    const int slowMs_ = options_.slowMs; // after options_, which it is taken from

    bool validUnit(int index) const {
        return index >= 0 && index < static_cast<int>(units_.size());
    }
    // Unit i's calculator of round r is number i + units * r.
    int numberOf(int index) const {
        return index +
               static_cast<int>(units_.size()) * units_[static_cast<std::size_t>(index)].round;
    }
    std::u16string pathOf(int index) const { return unitPath(numberOf(index), !options_.noSerial); }
    // Under lock_.
    int indexOf(const std::u16string& path) const {
        for (std::size_t i = 0; i < units_.size(); ++i) {
            if (pathOf(static_cast<int>(i)) == path)
                return static_cast<int>(i);
        }
        return -1;
    }
    DiskIdentity identityOf(int index) const {
        DiskIdentity identity;
        identity.vendor = u"Orvane";
        identity.model = u"Vela update";
        if (!options_.noSerial)
            identity.serial = toUtf16(unitSerial(numberOf(index)));
        identity.port = u"1-" + toUtf16(std::to_string(index + 1));
        identity.deviceNumber = static_cast<std::uint64_t>(index) + 1;
        identity.diskSequence = units_[static_cast<std::size_t>(index)].sequence;
        return identity;
    }
    static void plugIn(Unit& unit) {
        unit.gone = false;
        unit.sequence = nextSequence.fetch_add(1);
        // Another calculator at the unit's place: its own empty disk and trace.
        if (unit.renewing) {
            unit.renewing = false;
            ++unit.round;
            unit.sectors.clear();
            unit.trace.clear();
            unit.finishes = 0;
            unit.extent = 0;
        }
    }
    void release(int index, std::uint64_t sequence) {
        std::lock_guard<std::mutex> hold(lock_);
        Unit& unit = units_[static_cast<std::size_t>(index)];
        if (unit.heldSequence == sequence)
            unit.heldSequence = 0;
    }
    bool stillHere(int index, std::uint64_t sequence) {
        std::lock_guard<std::mutex> hold(lock_);
        const Unit& unit = units_[static_cast<std::size_t>(index)];
        return !unit.gone && unit.sequence == sequence;
    }
    bool saveLocked(const std::string& dir);

    // A calculator leaves update mode after its finish command, and one of
    // them may be plugged in again. Under lock_.
    void leaveAfterFinish(int index) {
        Unit& unit = units_[static_cast<std::size_t>(index)];
        unit.gone = true;
        ++unit.generation;
        unit.comesBack = index == options_.againUnit && !unit.cameBack;
        unit.cameBack = unit.cameBack || unit.comesBack;
        unit.backAt = Clock::now() + std::chrono::milliseconds(pacing::scaledMs(options_.againMs));
        if (options_.renewMs >= 0) {
            unit.comesBack = unit.renewing = true;
            unit.backAt =
                Clock::now() + std::chrono::milliseconds(pacing::scaledMs(options_.renewMs));
        }
    }
};

class VirtualDisk : public diskio::BlockIo {
public:
    VirtualDisk(std::shared_ptr<Calculator> calc, int index, int generation)
        : calc_(std::move(calc)), index_(index), generation_(generation) {}

    bool seek(std::uint64_t pos) override {
        pos_ = pos;
        return true;
    }
    bool tell(std::uint64_t& pos) override {
        pos = pos_;
        return true;
    }
    bool read(void* buffer, std::size_t len, std::size_t& got) override {
        got = 0;
        if (!calc_->read(index_, generation_, pos_, buffer, len))
            return fail(u"The request could not be performed because of an I/O device error.");
        got = len;
        pos_ += len;
        return true;
    }
    bool write(const void* buffer, std::size_t len) override {
        if (!calc_->write(index_, generation_, pos_, buffer, len))
            return fail(u"The request could not be performed because of an I/O device error.");
        pos_ += len;
        return true;
    }
    bool flush() override {
        return calc_->flush(index_, generation_) || fail(u"The device is not connected.");
    }
    bool size(std::uint64_t& bytes) override {
        bytes = kCapacity;
        return true;
    }
    std::u16string lastErrorText() const override { return error_; }

private:
    bool fail(const char16_t* text) {
        error_ = text;
        return false;
    }
    std::shared_ptr<Calculator> calc_;
    int index_;
    int generation_;
    std::uint64_t pos_ = 0;
    std::u16string error_;
};

class VirtualHold : public diskio::DiskHold {
public:
    VirtualHold(std::shared_ptr<Calculator> calc, int index, std::uint64_t sequence)
        : calc_(std::move(calc)), index_(index), sequence_(sequence) {}
    ~VirtualHold() override { calc_->release(index_, sequence_); }
    bool sameDevice(const diskio::DiskCheck&) override {
        return calc_->stillHere(index_, sequence_);
    }

private:
    std::shared_ptr<Calculator> calc_;
    int index_;
    std::uint64_t sequence_;
};

diskio::HoldResult Calculator::holdDisk(const std::u16string& path,
                                        const diskio::DiskCheck& expected) {
    std::lock_guard<std::mutex> hold(lock_);
    diskio::HoldResult result;
    const int index = indexOf(path);
    Unit* unit = index < 0 ? nullptr : &units_[static_cast<std::size_t>(index)];
    if (!unit || unit->gone || unit->sequence != expected.identity.diskSequence) {
        result.failureText = u"The device is not connected.";
    } else if (unit->heldSequence != 0) {
        result.heldElsewhere = true;
    } else {
        unit->heldSequence = unit->sequence;
        result.hold = std::make_unique<VirtualHold>(shared_from_this(), index, unit->sequence);
    }
    return result;
}

diskio::OpenResult Calculator::openDisk(const std::u16string& path, const diskio::DiskCheck&) {
    std::lock_guard<std::mutex> hold(lock_);
    for (std::size_t i = 0; i < units_.size(); ++i) {
        if (pathOf(static_cast<int>(i)) != path)
            continue;
        Unit& unit = units_[i];
        if (unit.unopenable)
            return {nullptr, u"Access is denied.", diskio::OpenRefusal::AccessDenied};
        if (unit.gone || options_.absent)
            return {nullptr, u"The device is not connected."};
        return {
            std::make_unique<VirtualDisk>(shared_from_this(), static_cast<int>(i), unit.generation),
            {}};
    }
    return {nullptr, u"The system cannot find the file specified."};
}

// Unbuffered access: the device takes whole sectors from sector-aligned memory.
bool sectorShaped(std::uint64_t pos, const void* buffer, std::size_t len) {
    return pos % 512 == 0 && len % 512 == 0 && reinterpret_cast<std::uintptr_t>(buffer) % 512 == 0;
}

bool Calculator::read(int index, int generation, std::uint64_t pos, void* buffer, std::size_t len) {
    answerSlowly();
    std::lock_guard<std::mutex> hold(lock_);
    Unit& unit = units_[static_cast<std::size_t>(index)];
    const bool ok = unit.generation == generation && !unit.gone && sectorShaped(pos, buffer, len) &&
                    pos + len <= kCapacity;
    unit.trace.push_back({Op::Read, pos, len, {}, !ok});
    if (!ok)
        return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t at = 0; at < len; at += 512) {
        auto found = unit.sectors.find((pos + at) / 512);
        if (found == unit.sectors.end())
            std::memset(out + at, 0, 512);
        else
            std::memcpy(out + at, found->second.data(), 512);
    }
    // The calculator answers a command through the next read of the control
    // sector; the data stored there is not touched by commands.
    if (unit.responsePending && pos <= kControlSectorPos && kControlSectorPos < pos + len) {
        std::memcpy(out + (kControlSectorPos - pos), unit.response.bytes.data(), 512);
        unit.responsePending = false;
    }
    return true;
}

bool Calculator::write(int index, int generation, std::uint64_t pos, const void* buffer,
                       std::size_t len) {
    answerSlowly();
    std::lock_guard<std::mutex> hold(lock_);
    Unit& unit = units_[static_cast<std::size_t>(index)];
    TraceEntry entry{Op::Write, pos, len, {}, false};
    bool ok = unit.generation == generation && !unit.gone && sectorShaped(pos, buffer, len) &&
              pos + len <= kCapacity &&
              !(options_.refuseWriteAt >= 0 &&
                pos == static_cast<std::uint64_t>(options_.refuseWriteAt) &&
                (options_.refuseUnit < 0 || options_.refuseUnit == index));
    ControlRecord record;
    bool command = false;
    bool finished = false;
    if (pos == kControlSectorPos && len == 512) {
        std::memcpy(record.bytes.data(), buffer, 512);
        command = recordField(record, 0) == kCommandMagic &&
                  recordField(record, 4) == kCommandSignature && recordField(record, 8) == 512;
    }
    if (command) {
        const std::uint32_t code = recordField(record, 12);
        const std::uint32_t argument = recordField(record, 16);
        if (code == CMD_PROGRESS) {
            entry.command = "PROGRESS " + std::to_string(argument);
            if (ok && !options_.progressUnanswered) {
                unit.response = record;
                for (int i = 0; i < 4; ++i)
                    unit.response.bytes[12 + i] =
                        static_cast<std::uint8_t>((kAcceptedBit | code) >> (8 * i));
                unit.responsePending = true;
            }
        } else if (code == CMD_FINISH) {
            entry.command = "FINISH";
            unit.finishes += ok ? 1 : 0;
            finished = ok;
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "COMMAND 0x%X %u", code, argument);
            entry.command = text;
        }
    }
    unit.trace.push_back(entry);
    if (!ok) {
        unit.trace.back().failed = true;
        return false;
    }
    if (command) {
        // The session ends with the finish command: leave the evidence now,
        // as the application may be killed before it exits normally.
        if (entry.command == "FINISH" && !options_.dir.empty())
            (void)saveLocked(options_.dir);
        if (finished && options_.leaveAfterFinish)
            leaveAfterFinish(index);
        return true;
    }
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    for (std::size_t at = 0; at < len; at += 512)
        std::memcpy(unit.sectors[(pos + at) / 512].data(), in + at, 512);
    unit.extent = std::max<std::uint64_t>(unit.extent, pos + len);
    if (unit.writesUntilVanish > 0 && --unit.writesUntilVanish == 0) {
        unit.gone = true;
        ++unit.generation;
        unit.comesBack = unit.vanishMs >= 0;
        unit.backAt = Clock::now() + std::chrono::milliseconds(pacing::scaledMs(unit.vanishMs));
        unit.writesUntilVanish = -1;
    }
    return true;
}

bool Calculator::flush(int index, int generation) {
    answerSlowly();
    std::lock_guard<std::mutex> hold(lock_);
    Unit& unit = units_[static_cast<std::size_t>(index)];
    const bool ok = unit.generation == generation && !unit.gone;
    unit.trace.push_back({Op::Flush, 0, 0, {}, !ok});
    return ok;
}

bool Calculator::saveLocked(const std::string& dir) {
    bool ok = true;
    for (std::size_t i = 0; i < units_.size(); ++i) {
        const Unit& unit = units_[i];
        const std::string base = dir + "/unit" + std::to_string(i);
        {
            std::ofstream image(base + ".img", std::ios::binary | std::ios::trunc);
            for (const auto& [number, sector] : unit.sectors) {
                image.seekp(static_cast<std::streamoff>(number * 512));
                image.write(reinterpret_cast<const char*>(sector.data()), 512);
            }
            ok = ok && image.good();
        }
        // Binary, so that every line ends in "\n" on every platform.
        std::ofstream text(base + ".trace", std::ios::binary | std::ios::trunc);
        for (const TraceEntry& entry : unit.trace)
            text << traceLine(entry) << '\n';
        ok = ok && text.good();
    }
    if (!ok)
        deviceLog("virtual calculator: cannot leave its files in " + dir);
    return ok;
}

std::shared_ptr<Calculator> current() {
    std::lock_guard<std::mutex> hold(installLock);
    return active;
}

void saveAtExit() {
    if (std::shared_ptr<Calculator> calc = current()) {
        std::lock_guard<std::mutex> hold(calc->lock_);
        if (!calc->options_.dir.empty())
            (void)calc->saveLocked(calc->options_.dir);
    }
}

bool parseNumber(const std::string& text, std::int64_t& out) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (*end != 0)
        return false;
    out = value;
    return true;
}

template <typename Fn> void withUnit(int index, Fn fn) {
    if (std::shared_ptr<Calculator> calc = current()) {
        std::lock_guard<std::mutex> hold(calc->lock_);
        if (calc->validUnit(index))
            fn(calc->units_[static_cast<std::size_t>(index)]);
    }
}

template <typename Fn> void withCalculator(Fn fn) {
    if (std::shared_ptr<Calculator> calc = current()) {
        std::lock_guard<std::mutex> hold(calc->lock_);
        fn(*calc);
    }
}

} // namespace

bool parseOptions(const std::string& text, Options& out, std::string& error) {
    Options options;
    if (text.empty() || text == "1") {
        out = options;
        return true;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        const std::size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "1" : item.substr(eq + 1);
        if (key == "dir") {
            options.dir = value;
            continue;
        }
        std::int64_t n = 0;
        if (!parseNumber(value, n)) {
            error = "bad number for " + key + ": " + value;
            return false;
        }
        const int small = static_cast<int>(std::clamp<std::int64_t>(n, -1, 1 << 30));
        if (key == "units")
            options.units = small;
        else if (key == "absent")
            options.absent = n != 0;
        else if (key == "appear_ms")
            options.appearMs = small;
        else if (key == "refuse_write_at")
            options.refuseWriteAt = n;
        else if (key == "no_progress_answer")
            options.progressUnanswered = n != 0;
        else if (key == "vanish_after_writes")
            options.vanishAfterWrites = small;
        else if (key == "vanish_ms")
            options.vanishMs = small;
        else if (key == "unopenable")
            options.unopenableUnit = small;
        else if (key == "slow_ms")
            options.slowMs = small;
        else if (key == "refuse_unit")
            options.refuseUnit = small;
        else if (key == "arrive_ms")
            options.arriveMs = small;
        else if (key == "leave_after_finish")
            options.leaveAfterFinish = n != 0;
        else if (key == "again")
            options.againUnit = small;
        else if (key == "again_ms")
            options.againMs = small;
        else if (key == "no_serial")
            options.noSerial = n != 0;
        else if (key == "renew_ms")
            options.renewMs = small;
        else {
            error = "unknown key " + key;
            return false;
        }
    }
    if (options.units < 1 || options.units > kMaxUnits) {
        error = "units must be 1 to " + std::to_string(kMaxUnits);
        return false;
    }
    out = options;
    return true;
}

void install(const Options& options) {
    auto calc = std::make_shared<Calculator>(options);
    static std::once_flag exitHook;
    if (!options.dir.empty())
        std::call_once(exitHook, [] { std::atexit(saveAtExit); });
    {
        std::lock_guard<std::mutex> hold(installLock);
        active = calc;
    }
    diskio::setDiskSourceOverride(calc.get());
    deviceLog("virtual calculator: " + std::to_string(calc->units_.size()) + " unit(s)" +
              (options.dir.empty() ? std::string() : ", files in " + options.dir));
}

void uninstall() {
    saveAtExit();
    diskio::setDiskSourceOverride(nullptr);
    std::lock_guard<std::mutex> hold(installLock);
    active.reset();
}

bool installed() {
    return current() != nullptr;
}

bool installFromEnvironment() {
    if (installed())
        return true;
    const char* value = std::getenv("UPDATER_VIRTUAL_CALCULATOR");
    if (!value || std::string(value) == "0")
        return false;
    Options options;
    std::string error;
    if (!parseOptions(value, options, error)) {
        deviceLog("virtual calculator: UPDATER_VIRTUAL_CALCULATOR ignored: " + error);
        return false;
    }
    install(options);
    return true;
}

std::string traceLine(const TraceEntry& entry) {
    const char* op = entry.op == Op::Read ? "R" : entry.op == Op::Write ? "W" : "F";
    std::string line =
        std::string(op) + " " + std::to_string(entry.pos) + " " + std::to_string(entry.length);
    if (!entry.command.empty())
        line += " " + entry.command;
    if (entry.failed)
        line += " FAILED";
    return line;
}

std::vector<TraceEntry> trace(int unit) {
    std::vector<TraceEntry> out;
    withUnit(unit, [&](Unit& u) { out = u.trace; });
    return out;
}

int finishCount(int unit) {
    int n = 0;
    withUnit(unit, [&](Unit& u) { n = u.finishes; });
    return n;
}

std::vector<std::uint8_t> readUnit(int unit, std::uint64_t offset, std::size_t length) {
    std::vector<std::uint8_t> out(length, 0);
    withUnit(unit, [&](Unit& u) {
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint64_t at = offset + i;
            auto found = u.sectors.find(at / 512);
            if (found != u.sectors.end())
                out[i] = found->second[at % 512];
        }
    });
    return out;
}

std::uint64_t writtenExtent(int unit) {
    std::uint64_t extent = 0;
    withUnit(unit, [&](Unit& u) { extent = u.extent; });
    return extent;
}

void setAbsent(bool absent) {
    withCalculator([&](Calculator& c) { c.options_.absent = absent; });
}

void refuseWritesAt(std::int64_t pos) {
    withCalculator([&](Calculator& c) { c.options_.refuseWriteAt = pos; });
}

void setPluggedIn(int unit, bool pluggedIn) {
    withUnit(unit, [&](Unit& u) {
        if (u.gone == !pluggedIn)
            return;
        u.comesBack = false;
        if (pluggedIn) {
            Calculator::plugIn(u);
        } else {
            u.gone = true;
            ++u.generation;
        }
    });
}

void vanishAfterWrites(int unit, int writes, int backAfterMs) {
    withUnit(unit, [&](Unit& u) {
        u.writesUntilVanish = writes;
        u.vanishMs = backAfterMs;
    });
}

} // namespace virtual_calculator
