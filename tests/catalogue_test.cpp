// The message catalogue: complete in both languages, texts that survive the build exactly,
// and placeholders only where the formatting code expects them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <set>
#include <string>

#include "resources/catalogue.h"
#include "resources/resource_ids.h"

namespace orvanta {
namespace {

constexpr std::size_t kTextBufferChars = 2048;
constexpr Language kLanguages[] = {Language::english, Language::german};

std::wstring text(std::uint32_t id, Language language) {
    const wchar_t* found = catalogueText(id, language);
    return found ? std::wstring(found) : std::wstring();
}

bool endsWith(const std::wstring& s, const std::wstring& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

TEST(Catalogue, HoldsEveryShownMessageInBothLanguages) {
    const std::uint32_t shown[] = {IDS_READY,
                                   IDS_INSTRUCTIONS,
                                   IDS_UPDATE_FAILED_CAPTION,
                                   IDS_SET_ADDRESS_FAILED,
                                   IDS_WRITE_BLOCK_FAILED,
                                   IDS_REGISTRATION_FAILED,
                                   IDS_APPLICATION_ERROR_CAPTION,
                                   IDS_WRONG_MODE,
                                   IDS_NO_UPDATABLE_ESC,
                                   IDS_NO_UNIT,
                                   IDS_CONNECTION_LOST,
                                   IDS_NO_LINK_AT_UPDATE,
                                   IDS_OLDER_OR_SAME,
                                   IDS_OLDER_OR_SAME_CAPTION,
                                   IDS_SYSTEM_LOCK_FAILED,
                                   IDS_WRITE_PROTECTION_FAILED,
                                   IDS_ERASE_FAILED,
                                   IDS_PROGRESS_TITLE,
                                   IDS_UPDATE_FAILED_HINT,
                                   IDS_UPDATE_SUCCEEDED,
                                   IDS_INCOMPATIBLE_CAPTION,
                                   IDS_INCOMPATIBLE_TEXT,
                                   IDS_INCOMPATIBLE_ESC,
                                   IDS_ERROR_CODE_LINE,
                                   IDS_CONFIRM_CAPTION,
                                   IDS_CONFIRM_TEXT,
                                   IDS_LABEL_UNIT,
                                   IDS_LABEL_ESC_BOOTLOADER,
                                   IDS_LABEL_ESC,
                                   IDS_IMAGE_DAMAGED,
                                   IDS_UNIT_BUSY,
                                   IDS_SHUTDOWN_REASON,
                                   IDS_ALREADY_RUNNING};
    for (std::uint32_t id : shown) {
        for (Language language : kLanguages) {
            const wchar_t* found = catalogueText(id, language);
            ASSERT_NE(found, nullptr) << id;
            EXPECT_GT(std::wcslen(found), 0u) << id;
        }
    }
    EXPECT_EQ(catalogue().size(), std::size(shown));
}

TEST(Catalogue, EntriesAscendAndBothLanguagesShareTheIds) {
    std::set<std::uint32_t> ids;
    std::uint32_t previous = 0;
    for (const CatalogueEntry& entry : catalogue()) {
        EXPECT_GT(entry.id, previous);
        previous = entry.id;
        ASSERT_NE(entry.english, nullptr) << entry.id;
        ASSERT_NE(entry.german, nullptr) << entry.id;
        EXPECT_EQ(catalogueText(entry.id, Language::english), entry.english);
        EXPECT_EQ(catalogueText(entry.id, Language::german), entry.german);
        ids.insert(entry.id);
    }
    EXPECT_EQ(ids.size(), catalogue().size());
}

TEST(Catalogue, UnknownIdsYieldNothing) {
    // Control ids that are no message ids, and the neighbours of real ones.
    for (std::uint32_t id : {0u, 2u, 1002u, 40004u, 40003u, 40046u, 0x10000u + IDS_READY}) {
        EXPECT_EQ(catalogueText(id, Language::english), nullptr) << id;
        EXPECT_EQ(catalogueText(id, Language::german), nullptr) << id;
    }
}

TEST(Catalogue, EveryTextFitsTheLoadBufferAndOnlyTwoCarryPlaceholders) {
    for (const CatalogueEntry& entry : catalogue()) {
        for (const wchar_t* t : {entry.english, entry.german}) {
            const std::wstring s(t);
            EXPECT_LT(s.size(), kTextBufferChars) << entry.id;
            const auto percents = std::count(s.begin(), s.end(), L'%');
            if (entry.id == IDS_INCOMPATIBLE_TEXT) {
                EXPECT_EQ(percents, 1) << entry.id;
                EXPECT_NE(s.find(L"%s"), std::wstring::npos);
            } else if (entry.id == IDS_ERROR_CODE_LINE) {
                EXPECT_EQ(percents, 2) << entry.id;
                EXPECT_NE(s.find(L"0x%08x-0x%08x"), std::wstring::npos);
            } else {
                EXPECT_EQ(percents, 0) << entry.id;
            }
            // Line breaks come only as CR LF pairs.
            for (std::size_t i = 0; i < s.size(); ++i) {
                if (s[i] == L'\r') {
                    EXPECT_EQ(s[i + 1], L'\n') << entry.id;
                } else if (s[i] == L'\n') {
                    EXPECT_TRUE(i > 0 && s[i - 1] == L'\r') << entry.id;
                }
            }
        }
    }
}

TEST(Catalogue, ErrorCodeLineFormatsTwoUnsignedHexCodes) {
    for (Language language : kLanguages) {
        wchar_t buffer[kTextBufferChars];
        const std::wstring format = text(IDS_ERROR_CODE_LINE, language);
        ASSERT_GT(std::swprintf(buffer, kTextBufferChars, format.c_str(),
                                static_cast<std::uint32_t>(-2), 31u),
                  0);
        EXPECT_TRUE(endsWith(buffer, L"0xfffffffe-0x0000001f")) << buffer;
        ASSERT_GT(std::swprintf(buffer, kTextBufferChars, format.c_str(), 1627u, 0u), 0);
        EXPECT_TRUE(endsWith(buffer, L"0x0000065b-0x00000000")) << buffer;
    }
    EXPECT_EQ(text(IDS_ERROR_CODE_LINE, Language::english),
              L"The system shows following errorcode: 0x%08x-0x%08x");
}

TEST(Catalogue, IncompatibleTextNamesTheModelAndTheWebsite) {
    for (Language language : kLanguages) {
        wchar_t buffer[kTextBufferChars];
        // The C library's wide printf takes %s as a narrow string (%ls would be the wide
        // one); the Windows runtime reads the same %s as a wide string.
        ASSERT_GT(std::swprintf(buffer, kTextBufferChars,
                                text(IDS_INCOMPATIBLE_TEXT, language).c_str(), "ORVANTA 210 HV"),
                  0);
        const std::wstring formatted(buffer);
        EXPECT_NE(formatted.find(L"'ORVANTA 210 HV'"), std::wstring::npos) << formatted;
        EXPECT_NE(formatted.find(L"www.varidyne.example"), std::wstring::npos) << formatted;
    }
}

TEST(Catalogue, TextsKeepTheirExactSpacingAndCharacters) {
    const std::wstring instructionsGerman = text(IDS_INSTRUCTIONS, Language::german);
    EXPECT_EQ(instructionsGerman.size(), 780u);
    EXPECT_NE(instructionsGerman.find(L"Windows\u2122PC"), std::wstring::npos);
    EXPECT_NE(instructionsGerman.find(L"erforderlich. \r\nDer STRATOS-V ben\u00f6tigt"),
              std::wstring::npos);
    EXPECT_EQ(text(IDS_INSTRUCTIONS, Language::english).substr(0, 5), L"1.)\r\n");
    EXPECT_NE(text(IDS_INSTRUCTIONS, Language::english).find(L"\r\n\r\n 4.)\r\n If the"),
              std::wstring::npos);

    EXPECT_NE(text(IDS_READY, Language::english).find(L"!!!  NOTE:"), std::wstring::npos);
    EXPECT_TRUE(endsWith(text(IDS_READY, Language::english), L"no longer function  !!!"));
    EXPECT_NE(text(IDS_OLDER_OR_SAME, Language::english).find(L"version.  If you"),
              std::wstring::npos);

    EXPECT_EQ(text(IDS_ERASE_FAILED, Language::german),
              L"Fehler beim L\u00f6schen der alten Firmware. Neue Daten k\u00f6nnen nicht "
              L"geschrieben werden. Das Update wird abgebrochen.");
    EXPECT_NE(text(IDS_INCOMPATIBLE_TEXT, Language::german).find(L"l\u00e4\u00dft sich"),
              std::wstring::npos);
    // Some German texts end without a full stop, as written.
    EXPECT_EQ(text(IDS_APPLICATION_ERROR_CAPTION, Language::german), L"Fehler in der Anwendung");
    EXPECT_TRUE(endsWith(text(IDS_SET_ADDRESS_FAILED, Language::german), L"abgebrochen"));
    EXPECT_EQ(text(IDS_LABEL_ESC, Language::english), L"ESC");
    EXPECT_EQ(text(IDS_LABEL_ESC, Language::german), L"Regler");
}

}  // namespace
}  // namespace orvanta
