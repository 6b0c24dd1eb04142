// The emulated unit behind the virtual device, and the host's command lines.
#include "virtual-unit/host/unit_session.h"

#include <limits>
#include <sstream>

namespace orvanta {

namespace {

// The unit's reply may be owed for any time; the host delivers it when due.
constexpr std::uint32_t kNoTimeLimitMs = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kErrorInvalidParameter = 87;

}  // namespace

std::int32_t writeStatusFor(std::uint32_t error) {
    switch (error) {
    case kErrorDeviceNotConnected:
        return kWriteStatusNotConnected;
    case kErrorInvalidParameter:
        return kWriteStatusInvalidParameter;
    default:
        // ERROR_GEN_FAILURE, as a device that stalls a transfer gives.
        return kWriteStatusUnsuccessful;
    }
}

UnitSession::UnitSession(const Scenario& scenario, const Clock& time) : clock_(time), bus_(clock_) {
    unit_ = &applyScenario(scenario, bus_, error_);
    // Wine answers an open before any driver sees it, so the virtual unit cannot play a
    // unit that another program holds; the session itself must always reach it.
    unit_->config().heldByOtherProgram = false;
    path_ = bus_.pathAt(bus_.interfaceCount() - 1);
}

UnitSession::~UnitSession() {
    if (handle_ != kInvalidHidHandle) bus_.close(handle_);
}

RequestOutcome UnitSession::handleRequest(const std::uint8_t* data, std::size_t length) {
    RequestOutcome outcome;
    if (handle_ == kInvalidHidHandle) handle_ = bus_.open(path_, HidAccess::talk);
    if (handle_ == kInvalidHidHandle) {
        // The unit is not plugged in: whatever still reaches it fails as on a pulled cable.
        outcome.writeStatus = kWriteStatusNotConnected;
        outcome.unitVanished = true;
        return outcome;
    }
    const IoOutcome written = bus_.write(handle_, data, length, kNoTimeLimitMs);
    clock_.takeOwedMs();
    if (written == IoOutcome::timedOut) {
        // Only a hanging write runs out of time on the emulated bus.
        outcome.writeNeverEnds = true;
        return outcome;
    }
    if (written != IoOutcome::done) {
        outcome.writeStatus = writeStatusFor(bus_.lastError());
        outcome.unitVanished = !present();
        return outcome;
    }
    std::vector<std::uint8_t> reply(unit_->config().inputReportLength);
    clock_.takeOwedMs();
    const IoOutcome read = bus_.read(handle_, reply.data(), reply.size(), kNoTimeLimitMs);
    const std::uint64_t owedMs = clock_.takeOwedMs();
    // A reply that never comes (no answer) or is lost on the way (read fails) leaves the
    // program's read waiting until it gives up.
    if (read == IoOutcome::done) {
        outcome.reply = std::move(reply);
        outcome.replyDelayMs = static_cast<std::uint32_t>(owedMs);
    }
    outcome.unitVanished = !present();
    return outcome;
}

void UnitSession::plug() {
    bus_.plug(path_);
    // Handles from before a pull stay dead, as on Windows.
    if (handle_ != kInvalidHidHandle) bus_.close(handle_);
    handle_ = kInvalidHidHandle;
}

void UnitSession::unplug() { bus_.unplug(path_); }

std::vector<HostCommand> parseHostCommands(const std::string& text) {
    std::vector<HostCommand> commands;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        HostCommand command;
        if (!(words >> command.word)) continue;
        words >> command.token;
        if (command.word == "plug") {
            command.kind = HostCommand::Kind::plug;
        } else if (command.word == "unplug") {
            command.kind = HostCommand::Kind::unplug;
        } else if (command.word == "quit") {
            command.kind = HostCommand::Kind::quit;
        }
        commands.push_back(command);
    }
    return commands;
}

}  // namespace orvanta
