// The end of every failed update: back to the no-link state, an error box naming the
// failed step and its code, and a standing hint.
#include <cstdint>
#include <string>

#include "resources/resource_ids.h"
#include "resources/text_format.h"
#include "update/update.h"

namespace orvanta {

void reportUpdateFailure(UnitLink& link, UpdateDialog& dialog, ProgramResources& resources,
                         const std::wstring& text, const std::wstring& caption, std::int32_t code,
                         std::uint32_t lastError) {
    closeLink(link);
    dialog.disableUpdate();
    // The panel shows the no-link state while the box is open.
    dialog.refreshVersionPanel(link);

    std::wstring boxText = text;
    // -1 means no link was open: there is no step code worth showing then.
    if (code != kStatusNoLink) {
        boxText += L"\r\n";
        boxText += formatMessage(resources.loadString(IDS_ERROR_CODE_LINE),
                                 {static_cast<std::uint32_t>(code), lastError});
    }
    if (boxText.size() > kMessageBufferChars - 1) boxText.resize(kMessageBufferChars - 1);
    dialog.messageBox(boxText, caption, kMbOk | kMbIconError);

    // Written after the box, so it stands whatever a device change did meanwhile.
    dialog.setHint(resources.loadString(IDS_UPDATE_FAILED_HINT));
}

}  // namespace orvanta
