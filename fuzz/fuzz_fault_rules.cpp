// NIMBREL_FAULTS text, as a test or a person running the suite by hand writes it: every rule it
// accepts must take effect as written, and a rejected text must add nothing.
#include <cstdlib>

#include "fuzz_env.h"
#include "platform/fault_injection.h"

namespace {

// A name no stand-in function carries, so a rule for it changes nothing but this target's checks.
const char kProbe[] = "FuzzProbe";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace faults = nimbrel::platform::faults;
    faults::clear();
    // A probe rule ahead of the fuzzed ones shows whether the text was taken all or nothing.
    faults::add({kProbe, "", 1, E_FAIL, {}});
    const bool accepted = faults::addFromText(nimbrel::fuzz::text(data, size));
    if (faults::check(kProbe) != std::optional<HRESULT>(E_FAIL)) std::abort();
    // The probe rule is used up: a rejected text left no rule behind. (An accepted one is not
    // consulted: its rule may ask for any delay.)
    if (!accepted && faults::check(kProbe, "/")) std::abort();
    faults::clear();
    return 0;
}
