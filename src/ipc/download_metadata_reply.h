#pragma once
// The main client's answer to "getDownloadMetadata": where an item's content is, its size and
// hash, whether a download of it already runs, and its new local sync id.

#include <QString>
#include <string>

#include "cfapi/download_metadata.h"

// Fills the out values that are given from the reply text. -1 when the reply is not a JSON object
// or does not succeed (the out values are then untouched), else 0. Each metadata field is taken
// only when "var" carries it with the right type.
int readDownloadMetadataReply(const std::wstring& replyText, bool* taskExists, DownloadMetadata* metadata,
                              QString* newLsid);
