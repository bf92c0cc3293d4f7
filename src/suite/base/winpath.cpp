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

bool isClean(const QString& path) {
    auto isSeparator = [](QChar c) { return c == QLatin1Char('/') || c == QLatin1Char('\\'); };
    const int size = path.size();
    if (size == 0 || isSeparator(path.at(size - 1))) return false;
    int partStart = size > 1 && isSeparator(path.at(0)) && isSeparator(path.at(1)) ? 2 : 0;
    for (int i = partStart; i <= size; ++i) {
        if (i < size && !isSeparator(path.at(i))) continue;
        const int length = i - partStart;
        if (length == 0 && i > 0) return false;
        if ((length == 1 || length == 2) && path.at(partStart) == QLatin1Char('.') &&
            path.at(i - 1) == QLatin1Char('.')) {
            return false;
        }
        partStart = i + 1;
    }
    return true;
}

QString cleanPath(const QString& path) {
    // Paths are mostly clean already, and the same ones are cleaned again and again.
    if (isClean(path)) return fromNativeSeparators(path);
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

QString cleanNativePath(const QString& path) { return toNativeSeparators(isClean(path) ? path : cleanPath(path)); }

bool equals(const QString& a, const QString& b) { return sameIgnoringCase(cleanPath(a), cleanPath(b)); }

bool sameIgnoringCase(const QString& a, const QString& b) {
    // Case folding maps each UTF-16 unit to one: texts of different lengths never compare equal.
    return a.size() == b.size() && (a == b || a.compare(b, Qt::CaseInsensitive) == 0);
}

bool startsWithIgnoringCase(const QString& text, const QString& prefix) {
    if (text.size() < prefix.size()) return false;
    const QStringView head = QStringView(text).left(prefix.size());
    return head == QStringView(prefix) || head.compare(prefix, Qt::CaseInsensitive) == 0;
}

}  // namespace winpath
