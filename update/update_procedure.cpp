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
    explicit PreciseTiming(DialogSurface& ui) : ui_(ui) { ui_.setPreciseTiming(true); }
    ~PreciseTiming() { ui_.setPreciseTiming(false); }
    PreciseTiming(const PreciseTiming&) = delete;
    PreciseTiming& operator=(const PreciseTiming&) = delete;

private:
    DialogSurface& ui_;
};

// What stopped a run: the step's message, its LinkStatus and the last error read
// right after it.
struct Failure {
    bool failed = false;
    // The image was refused before any command: nothing on the ESC or the link changed.
    bool imageRefused = false;
    std::uint32_t messageId = 0;
    LinkStatus code = kStatusOk;
    std::uint32_t lastError = 0;
};

// The error of the step's own exchange, not whatever the bus failed at last.
std::uint32_t lastErrorOf(const UnitLink& link) { return link.lastTransferError; }

void pause(UnitLink& link, std::uint32_t ms) {
    if (link.clock != nullptr) link.clock->sleepMs(ms);
}

Failure failedAt(const UnitLink& link, std::uint32_t messageId, LinkStatus code) {
    return Failure{true, false, messageId, code, lastErrorOf(link)};
}

// The four preparation steps: lock, unprotect, erase, address.
Failure prepareEsc(UnitLink& link) {
    LinkStatus status = setSystemLock(link, true);
    if (status != kStatusOk) return failedAt(link, IDS_SYSTEM_LOCK_FAILED, status);

    pause(link, kStepPauseMs);
    status = setWriteProtection(link, false);
    if (status != kStatusOk) return failedAt(link, IDS_WRITE_PROTECTION_FAILED, status);

    pause(link, kStepPauseMs);
    status = eraseFirmware(link);
    const std::uint32_t eraseError = lastErrorOf(link);
    // The bootloader goes on erasing after its reply; even a failed erase gets the
    // whole pause before anything else is said or sent.
    pause(link, kErasePauseMs);
    if (status != kStatusOk) return Failure{true, false, IDS_ERASE_FAILED, status, eraseError};

    pause(link, kStepPauseMs);
    status = setWriteAddress(link);
    if (status != kStatusOk) return failedAt(link, IDS_SET_ADDRESS_FAILED, status);
    return {};
}

// Sends the image in full blocks straight from the image, and its short tail, if
// any, from a buffer that never takes more than the bytes that are left.
Failure streamImage(App& app, const ImageView& image) {
    UnitLink& link = app.link;
    pause(link, kStepPauseMs);
    ProgressWindow progress;
    openProgressWindow(app, progress);

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
            const std::uint32_t lastError = lastErrorOf(link);
            // Gone before the error box, which would otherwise sit behind it.
            closeProgressWindow(app, progress);
            return Failure{true, false, IDS_WRITE_BLOCK_FAILED, status, lastError};
        }
        const auto percent =
            static_cast<std::uint32_t>(static_cast<std::uint64_t>(size - remaining) * 100u / size);
        advanceProgressWindow(app, progress, percent);
        pause(link, kStepPauseMs);
    }

    closeProgressWindow(app, progress);
    // The new firmware is in place whatever these answer, so they do not decide the
    // outcome.
    setWriteProtection(link, true);
    setSystemLock(link, false);
    return {};
}

void reportFailure(App& app, const Failure& failure) {
    DialogSurface& ui = *app.ui;
    const std::wstring caption = ui.loadString(IDS_UPDATE_FAILED_CAPTION);
    const std::wstring text = ui.loadString(failure.messageId);
    reportUpdateFailure(app, text, caption, failure.code, failure.lastError);
}

}  // namespace

void runFirmwareUpdate(App& app) {
    DialogSurface& ui = *app.ui;
    UnitLink& link = app.link;

    if (!link.isOpen()) {
        reportFailure(
            app, Failure{true, false, IDS_NO_LINK_AT_UPDATE, kStatusNoLink, 0});
        return;
    }

    {
        const std::wstring caption = ui.loadString(IDS_CONFIRM_CAPTION);
        const std::wstring text = ui.loadString(IDS_CONFIRM_TEXT);
        if (ui.messageBox(text, caption, kMbIconWarning | kMbOkCancel) != kIdOk) return;
    }
    // Read after the first box: a unit removed meanwhile reads 0 and asks nothing more.
    const std::uint16_t installed = link.escFirmwareVersion();
    if (installed >= FIRMWARE_IMAGE_VERSION && installed != 0xFFFF) {
        const std::wstring caption = ui.loadString(IDS_OLDER_OR_SAME_CAPTION);
        const std::wstring text = ui.loadString(IDS_OLDER_OR_SAME);
        if (ui.messageBox(text, caption, kMbIconWarning | kMbYesNo) != kIdYes) return;
    }

    Failure failure;
    {
        PreciseTiming timing(ui);
        // Checked before the first command: once the old firmware is erased, a
        // missing or damaged image would leave the ESC with nothing or with garbage.
        const ImageView image = loadFirmwareImage(app);
        if (!firmwareImageIntact(image)) {
            failure.failed = true;
            failure.imageRefused = true;
        } else {
            failure = prepareEsc(link);
            if (!failure.failed) failure = streamImage(app, image);
        }
    }

    if (failure.imageRefused) {
        // The ESC is untouched, so the link, the hint and "Update" stay as they are
        // and the user may try again; there is no step code to show.
        const std::wstring caption = ui.loadString(IDS_UPDATE_FAILED_CAPTION);
        const std::wstring text = ui.loadString(IDS_IMAGE_DAMAGED);
        ui.messageBox(text, caption, kMbOk | kMbIconError);
        return;
    }
    if (failure.failed) {
        // Nothing more is sent: lock and write protection stay as the failure left them.
        reportFailure(app, failure);
        return;
    }

    link.setEscFirmwareVersion(FIRMWARE_IMAGE_VERSION);
    ui.enableControl(IDC_UPDATE, false);
    refreshVersionPanel(app);
    setHintText(app, ui.loadString(IDS_UPDATE_SUCCEEDED), false);
}

}  // namespace orvanta
