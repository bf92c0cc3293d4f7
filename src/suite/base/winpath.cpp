#include "suite/base/winpath.h"

#include <QDir>

namespace winpath {

namespace {

// The part of a "/"-separated path that cleaning must keep, as Qt on Windows finds it: a UNC
// server or long-path prefix ("//server/", "//?/"), a drive ("C:/" or the drive-relative "C:"),
// or the root "/".
int rootLength(const QString& path) {
    const int length = path.size();
    if (path.startsWith(QLatin1String("//"))) {
        const int nextSlash = path.indexOf(QLatin1Char('/'), 2);
        return nextSlash >= 0 ? nextSlash + 1 : length;
    }
    if (length >= 2 && path.at(1) == QLatin1Char(':')) {
        return length > 2 && path.at(2) == QLatin1Char('/') ? 3 : 2;
    }
    return path.startsWith(QLatin1Char('/')) ? 1 : 0;
}

}  // namespace

QString fromNativeSeparators(const QString& path) {
    QString result = path;
    return result.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString toNativeSeparators(const QString& path) {
    QString result = path;
    return result.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString cleanPath(const QString& path) {
    const QString slashed = fromNativeSeparators(path);
    const int rootLen = rootLength(slashed);
    const QString root = slashed.left(rootLen);
    const QString rest = slashed.mid(rootLen);
    if (root.isEmpty()) return QDir::cleanPath(rest);
    if (root.endsWith(QLatin1Char('/'))) {
        // Anchored at "/", Qt's cleaning cannot climb above the root or eat a drive letter.
        return root + QDir::cleanPath(QLatin1Char('/') + rest).mid(1);
    }
    // Drive-relative ("C:a\..") or a bare UNC server: the remainder is relative to the root.
    const QString cleaned = QDir::cleanPath(rest);
    return cleaned == QLatin1String(".") ? root : root + cleaned;
}

bool equals(const QString& a, const QString& b) {
    return QString::compare(cleanPath(a), cleanPath(b), Qt::CaseInsensitive) == 0;
}

}  // namespace winpath
