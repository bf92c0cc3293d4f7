// The main client's reply to "getDownloadMetadata" as the hydration reads it: URL, size, content
// hash and its algorithm, "taskExists" and "newLsid". A reply that is refused must leave the
// caller's values as they were, so a failed request never downloads from a half-read URL.
#include <cstdlib>

#include "fuzz_env.h"
#include "ipc/download_metadata_reply.h"
#include "ipc/ipc_text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bool taskExists = true;
    DownloadMetadata metadata;
    QString newLsid;
    const int result =
        readDownloadMetadataReply(wideFromUtf8(nimbrel::fuzz::text(data, size)), &taskExists, &metadata, &newLsid);
    if (result != 0 && result != -1) std::abort();
    const bool untouched = taskExists && metadata.strUrl.isNull() && metadata.strHashAlgorithmType.isNull() &&
                           metadata.strHashValue.isNull() && metadata.iFileSize == -1 && newLsid.isNull();
    if (result == -1 && !untouched) std::abort();
    return 0;
}
