#include "cmdquote.h"

#include "sjisbyte.h"

#include <algorithm>

namespace buildcmd {

QByteArray QuoteArgument(const QByteArray &arg) {
    const auto special = [](char c) { return c == ' ' || c == '\t' || c == '"'; };
    if (!arg.isEmpty() && std::none_of(arg.begin(), arg.end(), special)) return arg;

    QByteArray out = "\"";
    qsizetype backslashes = 0;  // written once the byte after them is known
    for (qsizetype i = 0; i < arg.size(); ++i) {
        const char c = arg[i];
        if (i + 1 < arg.size() && sjis::IsLeadByte(uchar(c)) && sjis::IsTrailByte(uchar(arg[i + 1]))) {
            out += QByteArray(backslashes, '\\');
            backslashes = 0;
            out += arg.mid(i, 2);
            ++i;
        } else if (c == '\\') {
            ++backslashes;
        } else if (c == '"') {
            // Inside quotes "" is a literal quote; no backslash is needed, so
            // none can pair with a lone lead byte before it.
            out += QByteArray(2 * backslashes, '\\');
            backslashes = 0;
            out += "\"\"";
        } else {
            out += QByteArray(backslashes, '\\');
            backslashes = 0;
            out += c;
        }
    }
    out += QByteArray(2 * backslashes, '\\');
    out += '"';
    return out;
}

}  // namespace buildcmd
