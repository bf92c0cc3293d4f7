// File-info records as the main client pushes them ("fileInfo" elements of "pushFileSystem", the
// body of "pushFileAdd"), read and turned into what the Cloud Files step is handed: the item path,
// the placeholder item with its times normalised, the file times and the identity blob. No Cloud
// Files call is made; the handlers as a whole are fuzzed through fuzz_ipc_request.
#include <cstdlib>

#include "cfapi/cf_api_wrapper.h"
#include "cfapi/cf_api_wrapper_support.h"
#include "fuzz_env.h"
#include "ipc/push_file_record.h"
#include "ipc/untrusted_json.h"

namespace {

// What the client sends for "no time"; the normalisation must have replaced it.
constexpr qint64 kUnsetMarker = 4294967295000LL;

bool isSetTime(qint64 time) { return time > 0 && time != kUnsetMarker; }

void project(const rapidjson::Value& value, bool withFileName) {
    PushFileRecord record;
    std::string problem;
    if (!readPushFileRecord(value, withFileName, record, problem)) {
        if (problem.empty()) std::abort();
        return;
    }
    const QString path = withFileName ? record.itemPath() : record.filePath;
    CfApiWrapper::isTransientFile(path, record.type);
    isHardLinkRepairTempName(path);
    const PlaceholderItemInfo item = record.placeholderItem(path);
    if (!isSetTime(item.creationTime) || !isSetTime(item.modificationTime) || !isSetTime(item.accessTime) ||
        item.creationTime > item.modificationTime || item.modificationTime > item.accessTime) {
        std::abort();
    }
    cfapi_support::metadataFor(item.creationTime, item.modificationTime, item.accessTime);
    const std::vector<char16_t> blob = cfapi_support::identityBlob(record.identity());
    if (blob.empty() || blob.back() != u'\0') std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    rapidjson::Document document;
    if (parseUntrustedJson(document, reinterpret_cast<const char*>(data), size).IsError()) return 0;
    if (document.IsObject() && document.HasMember("fileInfo") && document["fileInfo"].IsArray()) {
        for (const auto& item : document["fileInfo"].GetArray()) project(item, true);
        return 0;
    }
    project(document, false);
    project(document, true);
    return 0;
}
