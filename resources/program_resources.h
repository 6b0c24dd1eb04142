// The program's own resources as the deciding code reads them: catalogue texts by
// message id, in the user's language, and the embedded firmware image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvanta {

// Read-only bytes of the embedded firmware image; data is null when it is missing.
struct ImageView {
    const std::uint8_t* data = nullptr;
    std::size_t length = 0;
};

class ProgramResources {
public:
    virtual ~ProgramResources() = default;

    // Catalogue text by message id, cut to 2047 characters.
    virtual std::wstring loadString(std::uint32_t id) = 0;
    virtual ImageView firmwareImage() = 0;
};

}  // namespace orvanta
