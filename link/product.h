// The facts of the product this program updates, in one place: the programming units
// it talks through, the ESC model and the type codes it accepts, and the firmware it
// carries. The link, the update and the shell all take them from here.
#pragma once

#include <cstdint>

namespace orvanta {

// USB ids of the programming units. The vendor id is the maker's own.
inline constexpr std::uint16_t UNIT_VENDOR_ID = 0x2E4A;
inline constexpr std::uint16_t PRODUCT_ID_TUNEPAD = 1;
inline constexpr std::uint16_t PRODUCT_ID_TUNEBOX = 2;

// Every programming unit the program talks to, with the name the dialog shows for it.
struct UnitProduct {
    std::uint16_t productId;
    const wchar_t* displayName;
};
inline constexpr UnitProduct kUnitProducts[] = {
    {PRODUCT_ID_TUNEPAD, L"TUNEPAD"},
    {PRODUCT_ID_TUNEBOX, L"TUNE-BOX"},
};

// The unit of this product id; null for any other device.
constexpr const UnitProduct* findUnitProduct(std::uint16_t productId) {
    for (const UnitProduct& product : kUnitProducts) {
        if (product.productId == productId) return &product;
    }
    return nullptr;
}

// The name shown for a unit; an id the program does not know is shown as a TuneBOX.
constexpr const wchar_t* unitDisplayName(std::uint16_t productId) {
    const UnitProduct* unit = findUnitProduct(productId);
    return (unit != nullptr ? unit : findUnitProduct(PRODUCT_ID_TUNEBOX))->displayName;
}

// The ESC model this program is for, and the type codes its bootloaders report.
inline constexpr wchar_t kModelString[] = L"ORVANTA 210 HV";
inline constexpr std::uint32_t kCompatibleTypeCodes[] = {0x110FA0D2, 0x0A0640D2};

// Version of the embedded image: high byte major, low byte minor (1.0).
inline constexpr std::uint16_t FIRMWARE_IMAGE_VERSION = 0x0100;
// What an ESC reports as its installed firmware version when its flash holds none.
inline constexpr std::uint16_t kNoEscFirmwareVersion = 0xFFFF;

}  // namespace orvanta
