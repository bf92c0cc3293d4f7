#pragma once
// The pin state of an item as the rest of Nimbrel names it, and its fixed conversions to and from
// the Cloud Files pin states. The two directions are deliberately not inverse: the platform's
// "unspecified" reads back as Unspecified, while asking for Inherit sends CF_PIN_STATE_INHERIT, and
// both the excluded and inherit states read back as Inherit.

#include "platform/cfapi.h"

enum class PinState {
    Inherit = 0,
    AlwaysLocal = 1,
    OnlineOnly = 2,
    Unspecified = 3,
};

inline CF_PIN_STATE toCfPinState(PinState state) {
    switch (state) {
        case PinState::Inherit:
            return CF_PIN_STATE_INHERIT;
        case PinState::AlwaysLocal:
            return CF_PIN_STATE_PINNED;
        case PinState::OnlineOnly:
            return CF_PIN_STATE_UNPINNED;
        case PinState::Unspecified:
            break;
    }
    return CF_PIN_STATE_UNSPECIFIED;
}

inline PinState fromCfPinState(CF_PIN_STATE state) {
    switch (state) {
        case CF_PIN_STATE_UNSPECIFIED:
            return PinState::Unspecified;
        case CF_PIN_STATE_PINNED:
            return PinState::AlwaysLocal;
        case CF_PIN_STATE_UNPINNED:
            return PinState::OnlineOnly;
        default:
            break;
    }
    return PinState::Inherit;
}
