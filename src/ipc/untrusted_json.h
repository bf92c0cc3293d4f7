#pragma once
// Parsing of JSON text that comes from another process (IPC bodies, the main client's replies,
// context-menu arguments). The parser works on its own heap stack instead of recursing, and a
// document nested deeper than kMaxJsonDepth is refused, so that no text can exhaust the calling
// thread's stack here or in the code that later walks the document.

#include <rapidjson/document.h>
#include <rapidjson/error/error.h>

#include <cstddef>

constexpr unsigned kMaxJsonDepth = 128;

// Fills `document` from `length` bytes of UTF-8 at `text`. On failure the document is left as it
// was and the result carries the parse error (kParseErrorTermination for a text nested too deep).
rapidjson::ParseResult parseUntrustedJson(rapidjson::Document& document, const char* text, std::size_t length);
