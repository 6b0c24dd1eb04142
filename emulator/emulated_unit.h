// A model of the programming unit and of the ESC bootloader behind it, answering
// the unit's commands the way the real pair does. It plugs into EmulatedBus.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "link/clock.h"
#include "link/hid_bus.h"
#include "link/unit_link.h"

namespace orvanta {

// Device error codes of the emulated bootloader, sent with status 0xFF in reply
// bytes 4-7 (little-endian). The unit judges the form of a request first (command
// code, length byte, report length, byte 3, filler), then whether an ESC bootloader
// is ready, then the arguments, then the state of the write session.
inline constexpr std::uint32_t kEmuErrorNotLocked = 0xE001;        // system lock not set
inline constexpr std::uint32_t kEmuErrorWriteProtected = 0xE002;   // flash write protection on
inline constexpr std::uint32_t kEmuErrorNotErased = 0xE003;        // no erase since power-up,
                                                                   // the last CMD_IDENTIFY or
                                                                   // protection was set on
inline constexpr std::uint32_t kEmuErrorNoAddress = 0xE004;        // no write address set
inline constexpr std::uint32_t kEmuErrorPastFlashEnd = 0xE005;     // block would pass flash end
inline constexpr std::uint32_t kEmuErrorBadConfirmation = 0xE006;  // confirmation value wrong
inline constexpr std::uint32_t kEmuErrorNoBootloader = 0xE007;     // ESC command, but no ESC
                                                                   // bootloader ready
inline constexpr std::uint32_t kEmuErrorUnknownCommand = 0xE008;   // command code not known
inline constexpr std::uint32_t kEmuErrorBadLength = 0xE009;        // length byte wrong for the
                                                                   // command
inline constexpr std::uint32_t kEmuErrorBadArgument = 0xE00A;      // address or argument out of
                                                                   // range
inline constexpr std::uint32_t kEmuErrorBadFiller = 0xE00B;        // a byte the command does not
                                                                   // name is not 0 (not 0xFF
                                                                   // behind a block's payload)
inline constexpr std::uint32_t kEmuErrorReportTooShort = 0xE00C;   // the output report ends
                                                                   // before the command's
                                                                   // arguments do

// What a freshly powered unit looks like. The defaults are a TuneBOX in the mode
// for ESC updates with a ready, compatible ESC bootloader behind it.
struct UnitConfig {
    std::uint16_t vendorId = UNIT_VENDOR_ID;
    std::uint16_t productId = PRODUCT_ID_TUNEBOX;
    // The lengths the unit's HID capabilities announce, report id included.
    std::uint16_t inputReportLength = 60;
    std::uint16_t outputReportLength = 60;

    // 0: the mode for ESC updates. Anything else: the unit answers CMD_IDENTIFY
    // with modeInfo and tells its version only through CMD_READ_MEMORY.
    std::uint8_t unitMode = 0;
    UnitModeInfo modeInfo;
    // The 12 bytes at kUnitInfoAddress. When unset, they are four zero bytes, then
    // unitFirmwareVersion and unitReserved (little-endian).
    std::optional<std::array<std::uint8_t, kUnitInfoBytes>> unitMemory;
    std::uint32_t unitFirmwareVersion = 0x00000105;  // 1.5
    std::uint32_t unitReserved = 0;
    std::uint16_t identifyReserved = 0;

    std::uint16_t escState = ESC_STATE_BOOTLOADER_READY;
    // The ESC information block. Its bytes 4-5 are replaced in every reply by the
    // installed firmware version (escFirmwareVersion until the first erase, then
    // whatever the flash holds at bytes 4-5).
    std::array<std::uint8_t, kEscInfoBytes> escInfo{};
    std::uint16_t escFirmwareVersion = 0x0009;  // 0.9; 0xFFFF for none installed
    // The bootloader information block; bytes 0-3 and 4-7 are replaced by
    // escTypeCode and bootloaderVersion.
    std::array<std::uint8_t, kBootloaderInfoBytes> bootloaderInfo{};
    std::uint32_t escTypeCode = 0x110FA0D2;
    std::uint32_t bootloaderVersion = 0x00000102;  // 1.2

    std::uint32_t flashBytes = 128 * 1024;
    // Time from a request to its reply, slept on the clock when the reply is read.
    std::uint32_t replyLatencyMs = 0;
    // Extra time the erase takes before the unit answers it.
    std::uint32_t eraseDurationMs = 0;
    // Another program holds the unit open for talking: it can be identified but
    // not opened for reading and writing.
    bool heldByOtherProgram = false;
};

enum class FaultKind {
    errorStatus,  // the command is not carried out; status 0xFF with `value` as the code
    wrongEcho,    // carried out, but byte 3 of the reply is `value` (0: byte 3 with bit 0
                  // flipped)
    writeFails,   // the write of the request fails, last error 31; nothing is carried out
    readFails,    // carried out, but reading the reply fails, last error 31
    noAnswer,     // not carried out and never answered: the read runs out of time
    unplug,       // the unit vanishes before this request: it and all later transfers fail
                  // with 1167 and the interface leaves the enumeration, until a replug
    writeHangs,   // the write of the request never ends, not even when it is cancelled;
                  // nothing is carried out. The bus gives up on it at its time limit
};

// Which exchange a fault hits. An exchange starts with each write of a request.
// With `exchange` nonzero it is the exchange of that number, counted from 1 over
// all exchanges of the unit since it was created (replugs do not restart the
// count); otherwise it is the `occurrence`-th exchange carrying `command` (counted
// from 1), or every such exchange when `occurrence` is 0.
//
// Several faults may hit one exchange; of each kind the first added counts. An
// unplug, a failing write or a missing answer ends the exchange there. Otherwise
// errorStatus, wrongEcho and readFails act together: a refused command with a wrong
// byte 3, whose reply may also be lost.
struct Fault {
    FaultKind kind = FaultKind::errorStatus;
    std::uint8_t command = 0;
    std::uint32_t occurrence = 1;
    std::uint32_t exchange = 0;
    std::uint32_t value = 0;
    // unplug only: the unit is plugged in again this long after it vanished, on the
    // unit's clock, powered up afresh (see EmulatedUnit::powerUp); 0 leaves it out.
    std::uint32_t replugAfterMs = 0;
};

Fault faultOnCommand(FaultKind kind, std::uint8_t command, std::uint32_t occurrence = 1,
                     std::uint32_t value = 0);
Fault faultOnExchange(FaultKind kind, std::uint32_t exchange, std::uint32_t value = 0);

// The result of one transfer as the bus hands it on.
struct UnitTransfer {
    IoOutcome outcome = IoOutcome::done;
    std::uint32_t lastError = 0;  // meaningful when outcome is not done
    bool unplugged = false;       // the unit vanished during this transfer
    bool neverEnds = false;       // the transfer hangs until the bus gives up on it
};

class EmulatedUnit {
public:
    EmulatedUnit(Clock& clock, const UnitConfig& config);

    const UnitConfig& config() const { return config_; }
    // Changes take effect with the next request or open (flashBytes only at
    // powerUp()); the bus reports the ids and report lengths from here.
    UnitConfig& config() { return config_; }

    void addFault(const Fault& fault);
    void clearFaults() { faults_.clear(); }

    // Transport, called by the bus. A request must be exactly outputReportLength
    // bytes with report id 0x01; a read must ask for exactly inputReportLength.
    UnitTransfer receiveRequest(const std::uint8_t* data, std::size_t length);
    UnitTransfer sendReply(std::uint8_t* data, std::size_t length, std::uint32_t timeoutMs);

    // A power cycle: lock, write protection, erase and address state return to
    // their power-up values (lock off, protection on); the flash keeps its bytes.
    void powerUp();
    bool unplugged() const { return unplugged_; }
    // Plugging in (false) also drops a pending replug.
    void setUnplugged(bool unplugged);
    // When an unplug fault asked for a replug: the time on the clock at which the
    // unit is back. The bus plugs it in once that time has come.
    std::optional<std::uint64_t> replugAtMs() const { return replugAtMs_; }

    // The ESC's flash as the bootloader wrote it. Until the first erase it holds
    // a stand-in for the old firmware: zero bytes with the configured version in
    // bytes 4-5.
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    // The version the ESC information reply reports now.
    std::uint16_t installedFirmwareVersion() const;
    bool systemLocked() const { return systemLocked_; }
    bool writeProtected() const { return writeProtected_; }
    bool erasedForWriting() const { return erased_; }
    std::optional<std::uint32_t> writeAddress() const { return writeAddress_; }

    std::uint32_t exchangeCount() const { return exchanges_; }
    std::uint32_t commandCount(std::uint8_t command) const;
    // The command codes of all exchanges in order.
    const std::vector<std::uint8_t>& commandLog() const { return commandLog_; }

private:
    enum class Pending { none, reply, readFails, noAnswer };

    const Fault* faultFor(FaultKind kind, std::uint8_t command, std::uint32_t occurrence) const;
    void carryOut(std::span<const std::uint8_t> request);
    void answerError(std::uint32_t code);
    void answerIdentify();
    void answerReadMemory(std::span<const std::uint8_t> request);
    void answerEscInfo(std::span<const std::uint8_t> request);
    void answerBootloaderInfo();
    void answerSystemLock(std::uint8_t flag);
    void answerWriteProtection(std::uint8_t flag);
    void answerErase(std::span<const std::uint8_t> request);
    void answerSetAddress(std::span<const std::uint8_t> request);
    void answerWriteBlock(std::span<const std::uint8_t> request);
    bool escReady() const;

    Clock& clock_;
    UnitConfig config_;
    std::vector<Fault> faults_;

    std::vector<std::uint8_t> flash_;
    bool everErased_ = false;
    bool systemLocked_ = false;
    bool writeProtected_ = true;
    bool erased_ = false;
    std::optional<std::uint32_t> writeAddress_;
    bool unplugged_ = false;
    std::optional<std::uint64_t> replugAtMs_;

    Pending pending_ = Pending::none;
    std::vector<std::uint8_t> reply_;
    std::uint64_t replyReadyAtMs_ = 0;

    std::uint32_t exchanges_ = 0;
    std::map<std::uint8_t, std::uint32_t> commandCounts_;
    std::vector<std::uint8_t> commandLog_;
};

}  // namespace orvanta
