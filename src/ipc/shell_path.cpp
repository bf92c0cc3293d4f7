#include "ipc/shell_path.h"

#include "suite/base/winpath.h"

QString normalizeShellPath(const QString& path) {
    // The throttles pass the same normalized paths around many times.
    if (path.isEmpty() || (!path.contains(QLatin1Char('/')) && winpath::isClean(path))) return path;
    QString result = winpath::cleanNativePath(path);
    while (result.size() > 3 && (result.endsWith(QLatin1Char('\\')) || result.endsWith(QLatin1Char('/')))) {
        result.chop(1);
    }
    return result;
}

bool isWithin(const QString& path, const QString& root) {
    const QString normalRoot = normalizeShellPath(root);
    if (normalRoot.isEmpty()) return true;
    const QString normalPath = normalizeShellPath(path);
    if (!winpath::startsWithIgnoringCase(normalPath, normalRoot)) return false;
    // The root itself, or a path that goes on below it after a separator.
    return normalPath.size() == normalRoot.size() || normalRoot.endsWith(QLatin1Char('\\')) ||
           normalPath.at(normalRoot.size()) == QLatin1Char('\\');
}

QString resolveRoot(const QString& path, const std::vector<std::wstring>& mountPaths, const QString& root) {
    // An empty root would hold every path and so hide the mounted paths.
    const QString normalRoot = normalizeShellPath(root);
    if (!normalRoot.isEmpty() && isWithin(path, normalRoot)) return normalRoot;
    QString best;
    for (const std::wstring& mounted : mountPaths) {
        const QString candidate = normalizeShellPath(QString::fromStdWString(mounted));
        if (!candidate.isEmpty() && candidate.size() > best.size() && isWithin(path, candidate)) best = candidate;
    }
    return best;
}

QString shellParentPath(const QString& path) {
    const QString normal = normalizeShellPath(path);
    const int separator = normal.lastIndexOf(QLatin1Char('\\'));
    if (separator < 0) return QString();
    // Below a drive or server root, the text before the separator is the parent in normal form.
    if (separator > 3) {
        const QString parent = normal.left(separator);
        if (winpath::isClean(parent)) return parent;
    }
    return normalizeShellPath(normal.left(separator + 1));
}

QString shellPathKey(const QString& path) { return normalizeShellPath(path).toLower(); }

bool passesLogThinning(long long count) { return count < 4 || count == 10 || count == 20 || count % 50 == 0; }
