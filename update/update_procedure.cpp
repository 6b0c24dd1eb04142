// The update behind the "Update" button: consent, then the image cut into blocks,
// the ESC prepared through the unit, the blocks streamed, and protection and lock
// restored.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "update/update.h"

namespace orvanta {
namespace {

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

// Takes the run's progress off the taskbar button however the run ends: after the
// success hint, or once the failure box has been answered.
class TaskbarProgressEnd {
public:
    explicit TaskbarProgressEnd(ProgressScreen& screen) : screen_(screen) {}
    ~TaskbarProgressEnd() { screen_.clearTaskbarProgress(); }
    TaskbarProgressEnd(const TaskbarProgressEnd&) = delete;
    TaskbarProgressEnd& operator=(const TaskbarProgressEnd&) = delete;

private:
    ProgressScreen& screen_;
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

    bool succeeded() const { return end == RunEnd::succeeded; }
};

RunResult stepFailed(std::uint32_t messageId, LinkStatus code, std::uint32_t lastError) {
    return RunResult{RunEnd::stepFailed, messageId, code, lastError};
}

RunResult failedAt(const UnitLink& link, std::uint32_t messageId, LinkStatus code) {
    return stepFailed(messageId, code, link.lastTransferError);
}

void pause(UnitLink& link, std::uint32_t ms) { link.clock.sleepMs(ms); }

// One block as the unit takes it: where its bytes are and how many words it holds.
struct Block {
    const std::uint8_t* data = nullptr;
    std::uint32_t words = 0;
};

// The image cut into blocks: full ones straight from the image, and its short tail,
// if any, from a buffer of a block's size that never takes more than the bytes that
// are left.
class ImageBlocks {
public:
    explicit ImageBlocks(const ImageView& image) : imageBytes_(image.length) {
        std::size_t offset = 0;
        for (; image.length - offset >= kBlockBytes; offset += kBlockBytes) {
            blocks_.push_back({image.data + offset, kBlockWords});
        }
        const std::size_t tailBytes = image.length - offset;
        if (tailBytes != 0) {
            tail_.fill(kErasedFlashByte);
            std::memcpy(tail_.data(), image.data + offset, tailBytes);
            blocks_.push_back({tail_.data(), static_cast<std::uint32_t>(tailBytes / 4)});
        }
    }
    ImageBlocks(const ImageBlocks&) = delete;
    ImageBlocks& operator=(const ImageBlocks&) = delete;

    const std::vector<Block>& blocks() const { return blocks_; }
    // The share of the image sent once `sent` blocks are through, in percent.
    std::uint32_t percentAfter(std::size_t sent) const {
        const std::size_t bytes = sent == blocks_.size() ? imageBytes_ : sent * kBlockBytes;
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(bytes) * 100u / imageBytes_);
    }

private:
    std::size_t imageBytes_;
    std::vector<Block> blocks_;
    std::array<std::uint8_t, kBlockBytes> tail_{};
};

// The four preparation steps: lock, unprotect, erase, address.
RunResult prepareEsc(UnitLink& link) {
    LinkStatus status = setSystemLock(link, true);
    if (status != kStatusOk) return failedAt(link, IDS_SYSTEM_LOCK_FAILED, status);

    pause(link, kPreparationPauseMs);
    status = setWriteProtection(link, false);
    if (status != kStatusOk) return failedAt(link, IDS_WRITE_PROTECTION_FAILED, status);

    pause(link, kPreparationPauseMs);
    status = eraseFirmware(link);
    // The bootloader goes on erasing after its reply; even a failed erase gets the
    // whole pause before anything else is said or sent.
    pause(link, kErasePauseMs);
    if (status != kStatusOk) return failedAt(link, IDS_ERASE_FAILED, status);

    pause(link, kPreparationPauseMs);
    status = setWriteAddress(link);
    if (status != kStatusOk) return failedAt(link, IDS_SET_ADDRESS_FAILED, status);
    pause(link, kPreparationPauseMs);
    return {};
}

// Every block in turn, with the progress window over the dialog; the window is gone
// before the caller shows anything.
RunResult streamImage(UnitLink& link, const ImageBlocks& image, ProgressScreen& screen,
                      const std::wstring& progressTitle, const std::wstring& shutdownReason) {
    ProgressWindow progress;
    openProgressWindow(screen, progressTitle, shutdownReason, progress);
    const std::vector<Block>& blocks = image.blocks();
    for (std::size_t sent = 0; sent < blocks.size(); ++sent) {
        const LinkStatus status = writeBlock(link, blocks[sent].data, blocks[sent].words);
        if (status != kStatusOk) {
            const RunResult failure = failedAt(link, IDS_WRITE_BLOCK_FAILED, status);
            // Red on the button while the failure box stands.
            screen.setTaskbarError();
            closeProgressWindow(screen, progress);
            return failure;
        }
        advanceProgressWindow(screen, progress, image.percentAfter(sent + 1));
        pause(link, kBlockPauseMs);
    }
    closeProgressWindow(screen, progress);
    return {};
}

// The new firmware is in place whatever these answer, so they do not decide the
// outcome.
void restoreProtection(UnitLink& link) {
    setWriteProtection(link, true);
    setSystemLock(link, false);
}

// The image the stream reads: a copy in the process's own memory, taken and checked
// before the erase. The embedded image is paged in from the program's file, which
// may sit on a share or a stick that goes away during the stream; a copy that was
// read whole cannot fail later, and the bytes checked are the bytes sent.
std::vector<std::uint8_t> copyOfImage(ProgramResources& resources) {
    const ImageView embedded = resources.firmwareImage();
    if (embedded.data == nullptr) return {};
    return std::vector<std::uint8_t>(embedded.data, embedded.data + embedded.length);
}

// The unit's part of the update, paced with a fine timer. The image is checked
// before the first command: once the old firmware is erased, a missing or damaged
// image would leave the ESC with nothing or with garbage.
RunResult runOnUnit(UnitLink& link, ProgramResources& resources, ProgressScreen& screen,
                    const std::wstring& shutdownReason) {
    PreciseTiming timing(link.clock);
    const std::vector<std::uint8_t> copy = copyOfImage(resources);
    const ImageView image{copy.empty() ? nullptr : copy.data(), copy.size()};
    if (!firmwareImageIntact(image)) return RunResult{RunEnd::imageRefused};
    const ImageBlocks blocks(image);

    RunResult result = prepareEsc(link);
    if (!result.succeeded()) return result;
    result =
        streamImage(link, blocks, screen, resources.loadString(IDS_PROGRESS_TITLE), shutdownReason);
    if (!result.succeeded()) return result;
    restoreProtection(link);
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
    if (installed >= FIRMWARE_IMAGE_VERSION && installed != kNoEscFirmwareVersion) {
        const std::wstring caption = resources.loadString(IDS_OLDER_OR_SAME_CAPTION);
        const std::wstring text = resources.loadString(IDS_OLDER_OR_SAME);
        if (dialog.messageBox(text, caption, kMbIconWarning | kMbYesNo) != kIdYes) return false;
    }
    return true;
}

// Shows how the run ended; true when the new firmware is in place.
bool showOutcome(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                 const RunResult& result) {
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

}  // namespace

bool runFirmwareUpdate(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                       ProgressScreen& screen) {
    if (!link.isOpen()) {
        reportFailure(link, dialog, resources, stepFailed(IDS_NO_LINK_AT_UPDATE, kStatusNoLink, 0));
        return false;
    }
    if (!userConsents(link, dialog, resources)) return false;
    const TaskbarProgressEnd taskbarProgressEnd(screen);
    const std::wstring shutdownReason = resources.loadString(IDS_SHUTDOWN_REASON);
    dialog.holdShutdown(shutdownReason);
    const RunResult result = runOnUnit(link, resources, screen, shutdownReason);
    dialog.releaseShutdown();
    dialog.runEnded();
    // The user may have turned to another program during the stream, and must not
    // unplug anything before seeing how it ended.
    const bool flashing = askForAttentionIfUnseen(screen);
    const bool succeeded = showOutcome(link, dialog, resources, result);
    // A failure's box has been answered, so its outcome has been seen, even if the
    // system took the box, not the dialog, for the window in front.
    if (flashing && !succeeded) screen.stopFlashingTaskbarButton();
    return succeeded;
}

}  // namespace orvanta
