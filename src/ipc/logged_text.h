#pragma once
// Texts that come from another process (request bodies, summaries that quote them) go into the
// rotating log bounded: a multi-megabyte request must not rotate away the log that came before it.

#include <cstddef>
#include <string>

constexpr std::size_t kLoggedTextLimit = 4096;

// `text` itself when it is at most kLoggedTextLimit bytes; otherwise its first bytes (cut at a
// character boundary) followed by "... (N bytes)" with N its full length.
std::string loggedText(const std::string& text);
