// A placeholder's record as the file's extended attribute carries it. Any program of the user can
// write those bytes, and the stand-in decodes them for every item it looks at: whatever decodes
// must encode to bytes that decode to the same record again.
#include <cstdlib>
#include <string_view>

#include "cf_record_codec.h"
#include "fuzz_env.h"

namespace {

using nimbrel::platform::cf::PlaceholderRecord;

bool same(const PlaceholderRecord& a, const PlaceholderRecord& b) {
    return a.rootTag == b.rootTag && a.device == b.device && a.inode == b.inode && a.identity == b.identity &&
           a.pin == b.pin && a.inSync == b.inSync && a.hydrated == b.hydrated && a.dataSynced == b.dataSynced &&
           a.isDirectory == b.isDirectory && a.alwaysFull == b.alwaysFull && a.creationTime == b.creationTime &&
           a.usn == b.usn && a.identityKey == b.identityKey;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    nimbrel::fuzz::useFreshPlatformFolders();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace cf = nimbrel::platform::cf;
    bool spilled = false;
    const auto record = cf::decodeRecord(std::string_view(reinterpret_cast<const char*>(data), size), spilled);
    if (!record) return 0;
    bool spilledAgain = false;
    const auto again = cf::decodeRecord(cf::encodeRecord(*record, spilled), spilledAgain);
    if (!again || spilledAgain != spilled || !same(*again, *record)) std::abort();
    return 0;
}
