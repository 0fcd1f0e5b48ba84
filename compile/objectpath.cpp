// The object path of a source. Kept free of everything but QtCore: the
// stand-in compiler lcc86.exe builds this file in, so that it writes its
// object exactly where the up-to-date test looks for it.
//
// Paths arrive here as decoded text. The second byte of a Shift-JIS
// double-byte character (0x5C in "表" or "ソ", 0x3A never, 0x2E never) is
// part of one QChar after decoding, and an undecodable byte is kept as an
// escaped lone surrogate, so neither can be mistaken for "\", "/", ":" or ".".
#include "compile.h"

namespace buildcmd {

QString ObjectPath(const QString &source) {
    const qsizetype ext = PathExtension(source).size();
    return source.left(source.size() - ext) + QStringLiteral(".obj");
}

}  // namespace buildcmd
