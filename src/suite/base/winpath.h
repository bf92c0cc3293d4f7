#pragma once
// Windows path text handled the way Qt on Windows handles it, on any host: both separators are
// accepted, comparisons ignore case, and roots ("C:/", "//server/", "/") are never cleaned away.
// Nimbrel keeps paths as Windows text everywhere; the platform layer converts at its boundary.

#include <QString>

namespace winpath {

// "\" becomes "/".
QString fromNativeSeparators(const QString& path);
// "/" becomes "\".
QString toNativeSeparators(const QString& path);

// QDir::cleanPath as Qt on Windows does it: separators unified to "/", repeated separators,
// "." and resolvable ".." segments removed, no trailing separator except on a root. A drive
// ("C:/"), a UNC server ("//server/") or a long-path prefix ("//?/") stays the root.
QString cleanPath(const QString& path);
// Whether cleanPath changes nothing but the separators: no empty, "." or ".." part (a leading
// separator or the two of a UNC path aside) and no trailing separator.
bool isClean(const QString& path);
// cleanPath with "\" separators; a clean path with no "/" comes back as it is, without a copy.
QString cleanNativePath(const QString& path);

// Case-insensitive comparison of the cleaned paths (so "C:\A\" equals "c:/a").
bool equals(const QString& a, const QString& b);
// Text comparisons that ignore case, as names on Windows compare. Paths mostly arrive in the case
// they are compared with, which a plain comparison settles before any character is case-folded.
bool sameIgnoringCase(const QString& a, const QString& b);
bool startsWithIgnoringCase(const QString& text, const QString& prefix);

}  // namespace winpath
