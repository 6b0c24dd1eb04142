// The update behind the "Update" button: consent, preparing the ESC through the unit,
// streaming the embedded image block by block, and restoring protection and lock.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>

#include "resources/resource_ids.h"
#include "update/update.h"

namespace orvanta {
namespace {

// The short last block goes out in a buffer of a full block's size, the bytes
// behind the image's end set to erased flash.
constexpr std::uint8_t kErasedFlashByte = 0xFF;

// Keeps the system timer fine while the unit is paced by sleeps, and puts it back
// however the run ends.
class PreciseTiming {
public:
    explicit PreciseTiming(Clock& clock) : clock_(clock) { clock_.setPreciseTiming(true); }
    ~PreciseTiming() { clock_.setPreciseTiming(false); }
    PreciseTiming(const PreciseTiming&) = delete;
    PreciseTiming& operator=(const PreciseTiming&) = delete;

private:
    Clock& clock_;
};

// How a run ended.
enum class RunEnd {
    succeeded,
    // The image was refused before any command: nothing on the ESC or the link changed.
    imageRefused,
    // A step failed: its message, its LinkStatus and the error of its own exchange.
    stepFailed,
};

struct RunResult {
    RunEnd end = RunEnd::succeeded;
    std::uint32_t messageId = 0;
    LinkStatus code = kStatusOk;
    std::uint32_t lastError = 0;
};

RunResult stepFailed(std::uint32_t messageId, LinkStatus code, std::uint32_t lastError) {
    return RunResult{RunEnd::stepFailed, messageId, code, lastError};
}

RunResult failedAt(const UnitLink& link, std::uint32_t messageId, LinkStatus code) {
    return stepFailed(messageId, code, link.lastTransferError);
}

void pause(UnitLink& link, std::uint32_t ms) { link.clock.sleepMs(ms); }

// The four preparation steps: lock, unprotect, erase, address.
RunResult prepareEsc(UnitLink& link) {
    LinkStatus status = setSystemLock(link, true);
    if (status != kStatusOk) return failedAt(link, IDS_SYSTEM_LOCK_FAILED, status);

    pause(link, kStepPauseMs);
    status = setWriteProtection(link, false);
    if (status != kStatusOk) return failedAt(link, IDS_WRITE_PROTECTION_FAILED, status);

    pause(link, kStepPauseMs);
    status = eraseFirmware(link);
    // The bootloader goes on erasing after its reply; even a failed erase gets the
    // whole pause before anything else is said or sent.
    pause(link, kErasePauseMs);
    if (status != kStatusOk) return failedAt(link, IDS_ERASE_FAILED, status);

    pause(link, kStepPauseMs);
    status = setWriteAddress(link);
    if (status != kStatusOk) return failedAt(link, IDS_SET_ADDRESS_FAILED, status);
    return {};
}

// Sends the image in full blocks straight from the image, and its short tail, if
// any, from a buffer that never takes more than the bytes that are left.
RunResult streamImage(UnitLink& link, const ImageView& image, ProgressScreen& screen,
                      const std::wstring& progressTitle) {
    pause(link, kStepPauseMs);
    ProgressWindow progress;
    openProgressWindow(screen, progressTitle, progress);

    const auto size = static_cast<std::uint32_t>(image.length);
    std::uint32_t remaining = size;
    const std::uint8_t* position = image.data;
    std::array<std::uint8_t, kBlockBytes> finalBlock{};
    while (remaining != 0) {
        LinkStatus status;
        if (remaining >= kBlockBytes) {
            status = writeBlock(link, position, kBlockWords);
            position += kBlockBytes;
            remaining -= kBlockBytes;
        } else {
            finalBlock.fill(kErasedFlashByte);
            std::memcpy(finalBlock.data(), position, remaining);
            status = writeBlock(link, finalBlock.data(), remaining / 4);
            remaining = 0;
        }
        if (status != kStatusOk) {
            const RunResult failure = failedAt(link, IDS_WRITE_BLOCK_FAILED, status);
            // Gone before the error box, which would otherwise sit behind it.
            closeProgressWindow(screen, progress);
            return failure;
        }
        const auto percent =
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(size - remaining) * 100u / size);
        advanceProgressWindow(screen, progress, percent);
        pause(link, kStepPauseMs);
    }

    closeProgressWindow(screen, progress);
    // The new firmware is in place whatever these answer, so they do not decide the
    // outcome.
    setWriteProtection(link, true);
    setSystemLock(link, false);
    return {};
}

void reportFailure(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                   const RunResult& failure) {
    const std::wstring caption = resources.loadString(IDS_UPDATE_FAILED_CAPTION);
    const std::wstring text = resources.loadString(failure.messageId);
    reportUpdateFailure(link, dialog, resources, text, caption, failure.code, failure.lastError);
}

// Both confirmations; false when the user declines either.
bool userConsents(const UnitLink& link, UpdateDialog& dialog, ProgramResources& resources) {
    {
        const std::wstring caption = resources.loadString(IDS_CONFIRM_CAPTION);
        const std::wstring text = resources.loadString(IDS_CONFIRM_TEXT);
        if (dialog.messageBox(text, caption, kMbIconWarning | kMbOkCancel) != kIdOk) return false;
    }
    // Read after the first box: a unit removed meanwhile reads 0 and asks nothing more.
    const std::uint16_t installed = link.escFirmwareVersion();
    if (installed >= FIRMWARE_IMAGE_VERSION && installed != 0xFFFF) {
        const std::wstring caption = resources.loadString(IDS_OLDER_OR_SAME_CAPTION);
        const std::wstring text = resources.loadString(IDS_OLDER_OR_SAME);
        if (dialog.messageBox(text, caption, kMbIconWarning | kMbYesNo) != kIdYes) return false;
    }
    return true;
}

}  // namespace

bool runFirmwareUpdate(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                       ProgressScreen& screen) {
    if (!link.isOpen()) {
        reportFailure(link, dialog, resources, stepFailed(IDS_NO_LINK_AT_UPDATE, kStatusNoLink, 0));
        return false;
    }
    if (!userConsents(link, dialog, resources)) return false;

    RunResult result;
    {
        PreciseTiming timing(link.clock);
        // Checked before the first command: once the old firmware is erased, a
        // missing or damaged image would leave the ESC with nothing or with garbage.
        const ImageView image = resources.firmwareImage();
        if (!firmwareImageIntact(image)) {
            result.end = RunEnd::imageRefused;
        } else {
            result = prepareEsc(link);
            if (result.end == RunEnd::succeeded) {
                result = streamImage(link, image, screen, resources.loadString(IDS_PROGRESS_TITLE));
            }
        }
    }
    dialog.runEnded();

    switch (result.end) {
    case RunEnd::imageRefused: {
        // The ESC is untouched, so the link, the hint and "Update" stay as they are
        // and the user may try again; there is no step code to show.
        const std::wstring caption = resources.loadString(IDS_UPDATE_FAILED_CAPTION);
        const std::wstring text = resources.loadString(IDS_IMAGE_DAMAGED);
        dialog.messageBox(text, caption, kMbOk | kMbIconError);
        return false;
    }
    case RunEnd::stepFailed:
        // Nothing more is sent: lock and write protection stay as the failure left them.
        reportFailure(link, dialog, resources, result);
        return false;
    case RunEnd::succeeded:
        break;
    }

    link.setEscFirmwareVersion(FIRMWARE_IMAGE_VERSION);
    dialog.disableUpdate();
    dialog.refreshVersionPanel(link);
    dialog.setHint(resources.loadString(IDS_UPDATE_SUCCEEDED));
    return true;
}

}  // namespace orvanta
