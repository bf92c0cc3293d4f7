#pragma once
// Freeing the data of a placeholder file: the size stays, the blocks go.

#include <vector>

#include "cf_item.h"

namespace nimbrel::platform::cf {

// Why dehydration is refused, checked before anything changes: the root must allow it, the file must
// not be pinned or always-full, and it must be in sync (after the call's own in-sync change).
HRESULT checkDehydration(const Item& item, CF_IN_SYNC_STATE inSyncAfter, bool alwaysFullAfter);

// Marks the record not hydrated, then punches the ranges (all of the file when `ranges` is empty).
// The record changes first, so a crash in between never leaves a record that claims punched data.
// `change` may alter the record in the same write.
HRESULT dehydrate(const Item& item, const std::vector<CF_FILE_RANGE>& ranges,
                  const std::function<void(PlaceholderRecord&)>& change);

}  // namespace nimbrel::platform::cf
