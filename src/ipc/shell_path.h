#pragma once
// Path text as the shell-refresh throttles compare it. Paths are Windows text; a drive root keeps
// its backslash ("C:\") because Explorer names the drive that way, every other folder loses it.

#include <QString>
#include <string>
#include <vector>

// Cleaned of "." and ".." parts and repeated separators, native "\" separators, no trailing
// separator unless the path is three characters or shorter. An empty path stays empty.
QString normalizeShellPath(const QString& path);

// True when `root` is empty, when both name the same item ignoring case, or when `path` lies below
// `root` ignoring case.
bool isWithin(const QString& path, const QString& root);

// The normalized `root` when it is set and holds `path`; otherwise the longest mounted path that
// holds it; otherwise empty.
QString resolveRoot(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root);

// The normalized folder that contains `path`; a root is its own parent, a bare name has none.
QString shellParentPath(const QString& path);

// The key under which the throttles file a path: its normal form in lower case. The paths they see
// are mostly in normal form and lower case already, which then costs no copy.
QString shellPathKey(const QString& path);

// Frequent lines are written for the first few occurrences, at 10 and 20, then every 50th.
bool passesLogThinning(long long count);
