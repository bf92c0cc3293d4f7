#include "ipc/logged_text.h"

namespace {

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string loggedText(const std::string& text) {
    if (text.size() <= kLoggedTextLimit) return text;
    std::size_t cut = kLoggedTextLimit;
    while (cut > 0 && isContinuationByte(text[cut])) --cut;
    return text.substr(0, cut) + "... (" + std::to_string(text.size()) + " bytes)";
}
