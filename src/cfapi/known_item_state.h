#pragma once
// What the operations on one item have just made of it, carried by the caller from one operation to
// the next: a placeholder created or read a moment ago need not be looked up again to learn whether
// it is a folder or a placeholder, nor read back for the pin state it holds, nor opened again. An
// operation that cannot vouch for a fact leaves it unknown.

#include <optional>

#include "cfapi/placeholder_info.h"
#include "cfapi/scoped_handle.h"
#include "platform/cfapi.h"

struct KnownItemState {
    bool exists = false;
    bool isFolder = false;  // a folder that is no link
    bool isPlaceholder = false;
    std::optional<CF_PIN_STATE> pin;
    // The whole placeholder information findPlaceholderInfo read, for updatePlaceholderInfo to take;
    // a pin change through `handle` drops it.
    PlaceholderInfo info;
    // The item's attribute handle, opened by the first operation that needed one; the next ones use it.
    ScopedHandle handle;
};
