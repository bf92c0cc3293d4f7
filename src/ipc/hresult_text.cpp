#include "ipc/hresult_text.h"

#include <cstdio>

std::string hresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08x", static_cast<unsigned int>(hr));
    return text;
}
