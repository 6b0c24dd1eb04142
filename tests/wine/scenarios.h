// The driver's scenarios: each file registers its own by name.
#pragma once

#include <map>
#include <string>

namespace orvanta::driver {

struct ScenarioContext {
    std::wstring program;       // the updater under test
    std::wstring outputFolder;  // screenshots and scenario files go here
    std::string argument;       // scenario-specific, e.g. how to close
    std::string languageTag;    // "en" or "de", from the user's UI language
};

using Scenario = void (*)(ScenarioContext&);

std::map<std::string, Scenario>& scenarios();

struct RegisterScenario {
    RegisterScenario(const char* name, Scenario scenario) { scenarios()[name] = scenario; }
};

}  // namespace orvanta::driver
