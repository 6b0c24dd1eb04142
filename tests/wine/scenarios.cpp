// The registry of the driver's scenarios.
#include "tests/wine/scenarios.h"

namespace orvanta::driver {

std::map<std::string, Scenario>& scenarios() {
    static std::map<std::string, Scenario> table;
    return table;
}

}  // namespace orvanta::driver
