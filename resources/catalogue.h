// The message catalogue as a table for the portable code: every text the updater shows,
// in English and German, keyed by message id.
#pragma once

#include <cstdint>
#include <span>

namespace orvanta {

enum class Language { english, german };

struct CatalogueEntry {
    std::uint32_t id;
    const wchar_t* english;
    const wchar_t* german;
};

// Every entry, ascending by id. Both languages hold a text for every id.
std::span<const CatalogueEntry> catalogue();

// The text of one message in one language; nullptr when the catalogue has no such id.
const wchar_t* catalogueText(std::uint32_t id, Language language);

}  // namespace orvanta
