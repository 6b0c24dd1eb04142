// The version panel: the unit's, the bootloader's and the installed ESC firmware's
// versions as dotted numbers, and the unit's name, following the link's state.
#include <cstdint>
#include <string>

#include "app/shell.h"
#include "resources/resource_ids.h"
#include "resources/text_format.h"

namespace orvanta {
namespace {

constexpr wchar_t kNoLinkValue[] = L"0.0.0";
constexpr wchar_t kNoEscFirmwareValue[] = L"----------";

// Values first, then labels: the order the controls are switched in.
constexpr int kPanelControls[] = {IDC_VALUE_UNIT, IDC_VALUE_ESC_BOOTLOADER, IDC_VALUE_ESC,
                                  IDC_LABEL_UNIT, IDC_LABEL_ESC_BOOTLOADER, IDC_LABEL_ESC};

}  // namespace

std::wstring formatPackedVersion(std::uint32_t version) {
    // One byte per component: the top byte only when it is set, then the two lowest
    // bytes; bits 16-23 are not part of the text.
    std::wstring text;
    const std::uint32_t top = version >> 24;
    if (top != 0) text = formatMessage(L"%u.", {top});
    text += formatMessage(L"%u.%u", {(version >> 8) & 0xFFu, version & 0xFFu});
    return text;
}

std::wstring formatEscFirmwareVersion(std::uint16_t version) {
    if (version == kNoEscFirmwareVersion) return kNoEscFirmwareValue;
    return formatMessage(L"%u.%u", {static_cast<std::uint32_t>(version >> 8),
                                    static_cast<std::uint32_t>(version & 0xFFu)});
}

void refreshVersionPanel(Dialog& dialog, const UnitLinkState& link) {
    if (!link.isOpen()) {
        dialog.setControlText(IDC_VALUE_UNIT, kNoLinkValue);
        dialog.setControlText(IDC_VALUE_ESC_BOOTLOADER, kNoLinkValue);
        dialog.setControlText(IDC_VALUE_ESC, kNoLinkValue);
        for (const int id : kPanelControls) dialog.enableControl(id, false);
        // The unit's name stays on line 1, greyed, so the user still sees which
        // unit was there last.
        return;
    }

    for (const int id : kPanelControls) dialog.enableControl(id, true);

    // Some unit firmwares report their version one byte further up, leaving the
    // lowest byte empty.
    std::uint32_t unitVersion = link.unitFirmwareVersion;
    if ((unitVersion & 0xFFu) == 0) unitVersion >>= 8;
    dialog.setControlText(IDC_VALUE_UNIT, formatPackedVersion(unitVersion));
    dialog.setControlText(IDC_VALUE_ESC_BOOTLOADER, formatPackedVersion(link.bootloaderVersion()));
    dialog.setControlText(IDC_VALUE_ESC, formatEscFirmwareVersion(link.escFirmwareVersion()));
    dialog.setControlText(IDC_LABEL_UNIT, unitDisplayName(link.productId));
}

}  // namespace orvanta
