// Scenario files for the emulated programming unit: what the unit looks like,
// which exchanges go wrong, and where the trace and the written flash go.
//
// Format: one `key = value` per line; blank lines and everything from `#` to the
// end of a line are ignored; keys are lower case; numbers are decimal or 0x-hex;
// byte lists are hex bytes separated by blanks ("00 1f a0"); a key given twice
// takes the later value, except `fault` and `other_device`, which add up.
//
//   vendor_id = 0x2e4a               USB ids the unit announces
//   product_id = 2
//   input_report_length = 60         report lengths its capabilities announce
//   output_report_length = 60
//   unit_mode = 0                    nonzero: not in the mode for ESC updates
//   mode_info = 1 2 3 4 5            the five mode values (8, 16, 32, 32, 8 bits)
//   unit_memory = 12 hex bytes       the unit memory the probe reads in a wrong mode
//   unit_firmware_version = 0x105
//   unit_reserved = 0
//   identify_reserved = 0
//   esc_state = 3                    3: an ESC bootloader is ready
//   esc_info = 32 hex bytes          bytes 4-5 are overlaid by the installed version
//   esc_firmware_version = 0x0009    0xffff: no firmware installed
//   bootloader_info = 40 hex bytes   bytes 0-7 are overlaid by the next two
//   esc_type_code = 0x110fa0d2
//   bootloader_version = 0x102
//   flash_size = 131072              bytes of ESC flash
//   reply_latency_ms = 0             time from each request to its reply
//   erase_duration_ms = 0            extra time before the erase is answered
//   unit_present = true              false: the unit is not plugged in at start
//   held_by_other_program = false    true: its open for talking is refused with 32,
//                                    as when another program holds it
//   other_device = 0x046d 0xc52b     another HID device, listed before the unit
//   fault = KIND SELECTOR [value=N] [replug_after_ms=M]
//       KIND: error_status | wrong_echo | write_fails | read_fails | no_answer | unplug
//             | write_hangs (the request's write never ends, even when cancelled)
//       SELECTOR: command=NAME [occurrence=N]   NAME a CMD_ name or a code; N counts
//                                               from 1, 0 hits every such exchange
//               | exchange=N                    N counts all exchanges from 1
//       value: the device error code of error_status, the byte-3 value of wrong_echo
//       replug_after_ms (unplug only): the unit is plugged in again M ms after it
//           vanished, powered up (lock off, write protection on, flash kept), and
//           its arrival is announced like a real plug; without it it stays out
//       Faults on the same exchange add up: error_status and wrong_echo together
//       give a refusal with a wrong byte 3 (see Fault in emulated_unit.h).
//       Example: fault = unplug command=CMD_WRITE_BLOCK occurrence=940 replug_after_ms=3000
//   trace_file = path                where the report trace is appended
//   flash_file = path                where the flash image is written at the end
//
// The trace has one line per transfer, in order. Each line starts with the time in
// milliseconds on the unit's clock since the bus was created (in the emulated
// build: since the program started), then one blank, then:
//   "> " and the bytes of a report written to a unit,
//   "< " and the bytes of a report read from a unit,
//   "! " and what failed with the last error; a failed write adds ": " and the
//        bytes it was given,
// each byte as two lower-case hex digits, separated by single blanks, report id
// first, the whole report. A report line carries the time its transfer ended: a
// reply the unit was slow to give is stamped when it came. For example
//   5040 > 01 1e 04 00 e9 52 7c 3a 00 ...     the erase request
//   6040 < 02 00 00 00 00 ...                  its reply, read 1000 ms later
//   10060 > 01 1f 09 01 00 00 00 00 e9 ...
//   10062 < 02 00 00 00 00 ...
//   10082 ! write failed, last error 1167: 01 1b 30 00 ...   the unit was pulled out
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/emulated_bus.h"
#include "emulator/emulated_unit.h"

namespace orvanta {

struct OtherHidDevice {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

struct Scenario {
    UnitConfig unit;
    std::vector<Fault> faults;
    bool unitPresent = true;
    std::vector<OtherHidDevice> otherDevices;
    std::string traceFile;
    std::string flashFile;
};

// Fills `out` from the text; on a fault returns false with `error` naming the
// line and what is wrong, and leaves `out` as it was.
bool parseScenario(const std::string& text, Scenario& out, std::string& error);

// Puts the scenario's devices on the bus (other devices first, then the unit),
// arms its faults and opens its trace file. Returns the unit.
EmulatedUnit& applyScenario(const Scenario& scenario, EmulatedBus& bus, std::string& error);

// Writes the flash as a raw binary file; false with `error` when it cannot.
bool writeFlashFile(const std::string& fileName, const std::vector<std::uint8_t>& flash,
                    std::string& error);

}  // namespace orvanta
