#pragma once
// What every fuzz target shares: private platform folders for the run, and the input as text.

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace nimbrel::fuzz {

// Points NIMBREL_PLATFORM_HOME, NIMBREL_RUNTIME_DIR and TMPDIR at fresh folders of this process,
// so that a run never touches the user's own registry, stores or sockets, and turns the filter
// service off.
void useFreshPlatformFolders();
// Removes the folders of useFreshPlatformFolders (made in this process or in the one that started
// it) when the run ends normally; a run that crashed leaves them to be looked at.
void removePlatformFoldersAtExit();

// The ids of this process's threads.
std::set<long> threadIds();

// Waits until every thread that is not in `before` has ended, or a few seconds have passed (a
// thread that lives on, such as a worker started on first use, then stays). LeakSanitizer does not
// scan the stack of a thread whose id the kernel gave to an earlier thread of the process, so once
// thread ids wrap around (pid_max), what a server thread still holds when an input ends would be
// reported as leaked; a target whose input is served on other threads waits for them with this.
void awaitThreadsStartedSince(const std::set<long>& before);

inline std::string text(const std::uint8_t* data, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

}  // namespace nimbrel::fuzz

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
