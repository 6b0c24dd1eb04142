// Which key messages a key held across the end of an update may still send.
#include "app/held_keys.h"

namespace orvanta {

bool HeldKeys::swallows(std::uint8_t key, KeyTransition transition) {
    if (!held_.test(key)) return false;
    switch (transition) {
    case KeyTransition::repeated:
        return true;
    case KeyTransition::released:
        held_.reset(key);
        return true;
    case KeyTransition::pressed:
        held_.reset(key);
        return false;
    }
    return false;
}

}  // namespace orvanta
