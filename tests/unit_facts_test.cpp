// What the unit and its bootloader rely on, written out once as numbers. The other
// tests may take these from the product's constants; here a change to any of them
// fails, because the unit would no longer be asked what it needs.
#include <gtest/gtest.h>

#include <cstdint>

#include "link/product.h"
#include "link/protocol.h"
#include "link/unit_link.h"
#include "update/update.h"

namespace orvanta {
namespace {

struct Fact {
    const char* what;
    std::uint64_t is;
    std::uint64_t must;
};

TEST(UnitFacts, StayWhatTheUnitReliesOn) {
    const Fact facts[] = {
        {"pause between preparation steps, ms", kPreparationPauseMs, 20},
        {"pause after the erase, ms", kErasePauseMs, 4000},
        {"pause after each block, ms", kBlockPauseMs, 20},
        {"wait inside the erase for its reply, ms", kEraseReplyDelayMs, 1000},
        {"blocks of the 90224-byte image", blockCount(90224), 1880},
        {"limit of a write, ms", kWriteTimeoutMs, 10000},
        {"limit of a reply, ms", kReadTimeoutMs, 10000},
        {"limit of the erase's reply, ms", kEraseReadTimeoutMs, 60000},
        {"bytes of a block", kBlockBytes, 48},
        {"words of a block", kBlockWords, 12},
        {"most words a block request may announce", kMaxBlockWords, 14},
        {"confirmation value", kConfirmationValue, 0x3A7C52E9},
        {"unit information address", kUnitInfoAddress, 0x0801FC00},
        {"vendor id", UNIT_VENDOR_ID, 0x2E4A},
        {"TUNEPAD product id", PRODUCT_ID_TUNEPAD, 1},
        {"TuneBOX product id", PRODUCT_ID_TUNEBOX, 2},
        {"image version", FIRMWARE_IMAGE_VERSION, 0x0100},
    };
    for (const Fact& fact : facts) EXPECT_EQ(fact.is, fact.must) << fact.what;
}

}  // namespace
}  // namespace orvanta
