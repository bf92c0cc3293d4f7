#pragma once
// Where machine-wide state lives, and the conversion between Windows and host paths and texts.
// Both folders are read from the environment at every call, so a test that points them at fresh
// folders sees nothing of earlier state.

#include <string>

namespace nimbrel::platform {

// NIMBREL_PLATFORM_HOME, else $XDG_STATE_HOME/nimbrel, else ~/.local/state/nimbrel; created 0700
// on use. A folder that belongs to another user, or that others may write into, ends the process
// (exit code 78) with the reason on standard error. Every stand-in call asks: a thread works the
// folder out again only when the variable that names it changed.
const std::string& platformHome();
// NIMBREL_RUNTIME_DIR, else $XDG_RUNTIME_DIR/nimbrel, else /tmp/nimbrel-<uid>; created and
// checked as platformHome.
std::string runtimeDir();
// The user's own temporary folder, as Windows gives every user one inside the profile: "temp" in
// the runtime folder, created 0700 and kept so, since what programs leave there (keys among them)
// is the user's alone.
std::string userTempDir();
// Creates `path` as an empty file that only its owner may read or write, unless it exists; for
// state files that a library creates itself (SQLite gives its journals the same mode).
void createPrivateFile(const std::string& path);

// "\\?\C:\x" style prefixes are dropped and "\" becomes "/": "\home\ann\a.txt" -> "/home/ann/a.txt".
std::string toHostPath(const std::wstring& windowsPath);
std::string toHostPath(const std::string& windowsPathUtf8);
// "/" becomes "\".
std::wstring toWindowsPath(const std::string& hostPath);

std::string toUtf8(const std::wstring& text);
std::string toUtf8(const std::u16string& text);
std::wstring fromUtf8(const std::string& text);
std::u16string toUtf16(const std::wstring& text);
std::wstring fromUtf16(const std::u16string& text);

// A name usable as a single file name for a machine-wide object name (mutex, section, channel).
std::string objectFileName(const std::wstring& objectName);

}  // namespace nimbrel::platform
