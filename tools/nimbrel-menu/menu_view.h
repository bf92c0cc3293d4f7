#pragma once
// How nimbrel-menu shows the server's replies to a person: a menu as Explorer would draw it, and
// the outcome of running an entry.

#include <string>

// The text for a "getContextMenu" reply: the group title, then one line per entry with whether it
// is active or greyed. `shown` is false when the server offered no entries (the text says why).
std::string menuView(const std::string& reply, bool& shown);
// The text for a "runContextMenu" reply; `accepted` is false when the server refused it.
std::string runView(const std::string& reply, const std::string& command, std::size_t itemCount, bool& accepted);
