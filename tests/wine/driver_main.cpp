// The Windows test driver: starts the updater under Wine, reads its windows through
// window messages and clicks them, as a user would, and checks what it sees.
//   orvanta-wine-driver <scenario> <program.exe> <output folder> [argument]
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "resources/resource_ids.h"
#include "tests/wine/driver_support.h"
#include "tests/wine/scenarios.h"

using namespace orvanta::driver;

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <scenario> <program.exe> <output folder> [argument]\n",
                     argv[0]);
        return 2;
    }
    ScenarioContext context;
    context.program = windowsPath(argv[2]);
    context.outputFolder = windowsPath(argv[3]);
    context.argument = argc > 4 ? argv[4] : "";
    context.languageTag = userLanguage() == orvanta::Language::german ? "de" : "en";

    const auto& table = scenarios();
    const auto found = table.find(argv[1]);
    if (found == table.end()) {
        std::fprintf(stderr, "unknown scenario %s\n", argv[1]);
        return 2;
    }
    std::printf("scenario %s, language %s\n", argv[1], context.languageTag.c_str());
    found->second(context);
    std::printf("%d failed check(s)\n", failures());
    return failures() == 0 ? 0 : 1;
}
