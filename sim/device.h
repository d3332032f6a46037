// Field devices behind the box's serial lines: what the host reaches through Local/Uart/1 to 12
// (ttymxc1..4, or the extension boards' channels). A device hears the host's bytes as its line
// brings them and answers toward the host; the box carries both ways (sim/uarts.cpp). No threads
// here: the box's serving thread calls every device.
//
//   --device 2=modbus,file=meter.json      a Modbus RTU meter (libmodbus) on ttymxc2, unit 1
//   --device 7=modbus,unit=2 --device 7=modbus,unit=1   two meters on one RS-485 bus
//   --device 3=lines,file=ups.json,baud=2400            a unit answering lines of text
//   --device 4=tcp,port=5020                            the line served on 127.0.0.1:5020
//   device.2.holding.0=2301, device.7.u1.coil.3=on, device.2.fault=delay:500   (at run time)
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "sim/frame.h"
#include "sim/switches.h"

namespace sim {

constexpr int kDeviceUarts = 12;         // Local/Uart/1 to 12 can lead to a device
constexpr int kBoxPortUarts = 4;         // 1 to 4: ttymxc1 to ttymxc4; the rest, board channels
constexpr int kEnvironmentUart = 14;     // board 1's channel 4: bridged only (--bridge 1:4:PORT)

enum class DeviceKind { kEcho, kModbus, kLines, kTcp, kNone };
const char* kind_name(DeviceKind kind);

// What a device does wrong on request; one at a time.
struct DeviceFault {
    enum Kind { kNone, kSilent, kBadCrc, kException, kDelay } kind = kNone;
    int value = 0;  // the exception code, or the delay in ms
    bool operator==(const DeviceFault&) const = default;
};
// "none", "silent", "bad-crc", "exception:2", "delay:500".
std::string fault_text(const DeviceFault& f);
std::optional<DeviceFault> parse_fault(std::string_view text);

// One --device option: UART=KIND[,OPTION=VALUE...].
struct DeviceSetup {
    int uart = 0;
    DeviceKind kind = DeviceKind::kEcho;
    std::filesystem::path file;           // modbus: its registers; lines: its table
    int unit = 1;                         // modbus: its unit id
    LineSettings line{9600, 8, 1, 0};     // parity as the host's Uart settings: 0 none, 1 odd, 2 even
    std::uint16_t port = 0;               // tcp: 0 for a free one, chosen when the device is made
    DeviceFault fault;
};
// 'N', 'O' or 'E' for the host's parity codes 0, 1 and 2 ('?' for another); "9600 8N1".
char parity_letter(std::uint8_t parity);
std::string settings_text(const LineSettings& s);
// Parses "2=modbus,file=meter.json,unit=3" into `out`; returns what is wrong, or "".
std::string parse_device(std::string_view text, DeviceSetup& out);
// The devices of a whole box, one setup each, every Uart 1 to 12 present (echo where none was
// given); throws std::invalid_argument naming what cannot be: a Uart given twice but for Modbus
// units of one bus (distinct units, the same line settings).
std::vector<DeviceSetup> every_uart(const std::vector<DeviceSetup>& given);
// The fault switches of those devices: device.UART.fault, or device.UART.uUNIT.fault on a bus.
void add_fault_switches(Switches& table, const std::vector<DeviceSetup>& devices);

// The four Modbus tables, as switch names, file keys and state keys call them.
enum class Table { kCoil, kDiscrete, kHolding, kInput };
constexpr std::array<const char*, 4> kTableNames = {"coil", "discrete", "holding", "input"};
inline bool is_bits(Table t) { return t == Table::kCoil || t == Table::kDiscrete; }

// A register or bit by its switch's name: device.UART[.uUNIT].TABLE.ADDRESS.
struct RegisterName {
    int uart = 0;
    int unit = 0;  // 0: not named (the only unit on the line)
    Table table = Table::kHolding;
    int address = 0;
};
std::optional<RegisterName> parse_register_name(std::string_view name);

struct DeviceCounts {
    std::size_t requests = 0, answers = 0, errors = 0;
};

// Bytes toward the host, not to be sent before `due`.
struct Answer {
    Bytes bytes;
    TimePoint due;
};

// One Uart's device. The box calls it and then takes its trace lines and the answers that are due.
class Device {
  public:
    virtual ~Device() = default;

    // The host's bytes. `in_tune`: the host's line settings, as far as the box sees them, are
    // the device's own; a device that minds them hears only noise otherwise.
    virtual void hear(std::span<const std::uint8_t> bytes, bool in_tune, TimePoint now) = 0;
    // Work that falls due with time; returns when it next does.
    virtual TimePoint tick(TimePoint now);
    // Descriptors to poll for reading, and what to do when one is readable.
    virtual void watch(std::vector<int>& fds) const;
    virtual void on_readable(int fd, TimePoint now);
    // Its line settings, when it minds them (echo, tcp and none carry bytes at any settings).
    virtual std::optional<LineSettings> settings() const;
    // A new fault for its unit (0: the only device on the line).
    virtual void set_fault(int unit, const DeviceFault& f);
    // Checks a value for a register or bit and gives it as stored; "" when it can be set.
    virtual std::string check_write(const RegisterName& r, const std::string& name, const nlohmann::json& value,
                                    std::uint16_t& stored) const;
    virtual void write(const RegisterName& r, std::uint16_t value);
    // Its own keys of the state: file, port, client, units, fault (null where they do not apply).
    virtual void describe(nlohmann::ordered_json& into) const;

    std::string label;               // "device 2": its trace lines start so
    std::vector<std::string> notes;  // trace lines, taken by the box
    std::deque<Answer> answers;      // toward the host, in order
    DeviceCounts counts;

  protected:
    // An answer, shaped by a fault: dropped when silent, late by a delay; never before the ones
    // already waiting.
    void answer(Bytes bytes, TimePoint due, const DeviceFault& f);
    DeviceFault fault;  // a device's own; a Modbus bus keeps one per unit
};

// A device for the setups of one Uart (several only for a Modbus bus). A tcp setup's port 0 becomes
// the port chosen. Throws (std::runtime_error, std::system_error) when it cannot be made: a file
// that cannot be read, a port taken.
std::unique_ptr<Device> make_device(std::vector<DeviceSetup>& setups);
// Each kind's own maker (modbus.cpp, text_device.cpp, device.cpp).
std::unique_ptr<Device> make_modbus_bus(const std::vector<DeviceSetup>& units);
std::unique_ptr<Device> make_text_device(const DeviceSetup& setup);
std::unique_ptr<Device> make_tcp_device(DeviceSetup& setup);

}  // namespace sim
