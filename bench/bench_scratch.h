#pragma once
// Where a benchmark makes its scratch folder: under TMPDIR, as every tool does, else /tmp; so that
// `scripts/bench.sh --fresh-fs` can hand each benchmark a file system of its own.

#include <stdlib.h>

#include <string>

// A new private folder named `prefix`-XXXXXX under the temporary folder; empty when none can be made.
inline std::string makeScratchFolder(const std::string& prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}
