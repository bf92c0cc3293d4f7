#pragma once
// The names of shell events, item types and delivery flags as a journal record shows them:
// "SHCNE_UPDATEITEM|SHCNE_ATTRIBUTES"; bits without a name follow in hex.

#include <cstdint>
#include <string>

namespace nimbrel::platform::shell {

std::string shellEventNames(std::uint32_t event);
std::string shellFlagNames(std::uint32_t flags);
std::string messageTimeoutFlagNames(std::uint32_t flags);
std::string windowMessageName(std::uint32_t message);

}  // namespace nimbrel::platform::shell
