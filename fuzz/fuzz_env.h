#pragma once
// What every fuzz target shares: private platform folders for the run, and the input as text.

#include <cstddef>
#include <cstdint>
#include <string>

namespace nimbrel::fuzz {

// Points NIMBREL_PLATFORM_HOME, NIMBREL_RUNTIME_DIR and TMPDIR at fresh folders of this process,
// so that a run never touches the user's own registry, stores or sockets, and turns the filter
// service off.
void useFreshPlatformFolders();

inline std::string text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace nimbrel::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
