#pragma once
// The path rules that need no window: a path's extension and its short forms.
//
// The extension of a path: from the last "." that stands after the last "\", "/"
// and ":", the "." included; empty when there is no such ".". Text is decoded
// before it gets here, so the second byte of a double-byte character can never
// pass for one of these characters.
#include <QString>

#include <algorithm>

inline QString PathExtension(const QString &path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path.at(i);
        if (c == u'.') return path.mid(i);
        if (c == u'\\' || c == u'/' || c == u':') break;
    }
    return QString();
}

// The short form of a whole path: the path as given; a single blank for the
// empty path.
inline QString ShortPath(const QString &path) { return path.isEmpty() ? QStringLiteral(" ") : path; }

// The short form of a path's file-name part (what follows the last "/", "\" or
// ":"). Linux keeps no 8.3 aliases, so a name is its own short form. Never
// empty: a path with no file-name part gives the path itself, the empty path a
// single blank (which no compiler message's file field equals).
inline QString ShortName(const QString &path) {
    qsizetype cut = -1;
    for (QChar sep : {u'/', u'\\', u':'}) cut = std::max(cut, path.lastIndexOf(sep));
    const QString name = path.mid(cut + 1);
    if (!name.isEmpty()) return name;
    return ShortPath(path);
}
