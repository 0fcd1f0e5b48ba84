#pragma once
// The extension of a path: from the last "." that stands after the last "\", "/"
// and ":", the "." included; empty when there is no such ".". Text is decoded
// before it gets here, so the second byte of a double-byte character can never
// pass for one of these characters.
#include <QString>

inline QString PathExtension(const QString &path) {
    for (qsizetype i = path.size() - 1; i >= 0; --i) {
        const QChar c = path.at(i);
        if (c == u'.') return path.mid(i);
        if (c == u'\\' || c == u'/' || c == u':') break;
    }
    return QString();
}
