// The program's resources on Win32: the string tables and the RCDATA firmware image
// of the program's own module.
#pragma once

#include <windows.h>

#include "resources/program_resources.h"

namespace orvanta {

class Win32ProgramResources final : public ProgramResources {
public:
    explicit Win32ProgramResources(HINSTANCE moduleInstance) : moduleInstance_(moduleInstance) {}

    std::wstring loadString(std::uint32_t id) override;
    ImageView firmwareImage() override;

private:
    HINSTANCE moduleInstance_;
};

}  // namespace orvanta
