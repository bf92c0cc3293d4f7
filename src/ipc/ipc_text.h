#pragma once
// The channel carries wide text; bodies are UTF-8 JSON. Both directions convert with the UTF-8
// code page.

#include <string>

std::string utf8FromWide(const std::wstring& text);
std::wstring wideFromUtf8(const std::string& text);
