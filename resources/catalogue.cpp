// The message catalogue's table, filled from the generated catalogue_data.inc so that
// the native code and the Windows string tables share one source of texts.
#include "resources/catalogue.h"

#include <algorithm>

namespace orvanta {

namespace {

constexpr CatalogueEntry kEntries[] = {
#include "catalogue_data.inc"
};

constexpr bool idsAscending() {
    return std::is_sorted(
               std::begin(kEntries), std::end(kEntries),
               [](const CatalogueEntry& a, const CatalogueEntry& b) { return a.id < b.id; }) &&
           std::adjacent_find(std::begin(kEntries), std::end(kEntries),
                              [](const CatalogueEntry& a, const CatalogueEntry& b) {
                                  return a.id == b.id;
                              }) == std::end(kEntries);
}
// The lookup is a binary search, so an unsorted or duplicated id would hide texts.
static_assert(idsAscending(), "catalogue ids must be unique and ascending");

}  // namespace

std::span<const CatalogueEntry> catalogue() { return kEntries; }

const wchar_t* catalogueText(std::uint32_t id, Language language) {
    const auto* found = std::lower_bound(
        std::begin(kEntries), std::end(kEntries), id,
        [](const CatalogueEntry& entry, std::uint32_t wanted) { return entry.id < wanted; });
    if (found == std::end(kEntries) || found->id != id) {
        return nullptr;
    }
    return language == Language::german ? found->german : found->english;
}

}  // namespace orvanta
