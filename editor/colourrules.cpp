// The colouring rules over a text: the keyword table and the range of one
// line (the scan and the slices of the whole text's colouring are templates
// in colourrules.h). Calls the text alone (textstore.h); knows neither the
// control nor the colour store.
#include "colourrules.h"

#include <cstring>
#include <string>

namespace colouring {

const std::vector<QString> &Keywords() {
    static const std::vector<QString> table = {
        // preprocessor
        QStringLiteral("#include"), QStringLiteral("#if"), QStringLiteral("#ifdef"), QStringLiteral("#ifndef"),
        QStringLiteral("#elif"), QStringLiteral("#else"), QStringLiteral("#endif"), QStringLiteral("#define"),
        QStringLiteral("#undef"), QStringLiteral("#line"), QStringLiteral("#pragma"),
        // storage
        QStringLiteral("typedef"), QStringLiteral("static"), QStringLiteral("extern"), QStringLiteral("const"),
        QStringLiteral("register"), QStringLiteral("auto"), QStringLiteral("far"), QStringLiteral("near"),
        // types
        QStringLiteral("void"), QStringLiteral("char"), QStringLiteral("int"), QStringLiteral("short"),
        QStringLiteral("long"), QStringLiteral("float"), QStringLiteral("double"), QStringLiteral("struct"),
        QStringLiteral("union"), QStringLiteral("enum"), QStringLiteral("unsigned"), QStringLiteral("signed"),
        // statements
        QStringLiteral("if"), QStringLiteral("else"), QStringLiteral("for"), QStringLiteral("do"),
        QStringLiteral("while"), QStringLiteral("switch"), QStringLiteral("case"), QStringLiteral("default"),
        QStringLiteral("break"), QStringLiteral("continue"), QStringLiteral("return"), QStringLiteral("sizeof"),
        // compiler extensions
        QStringLiteral("_asm_inline"), QStringLiteral("new"), QStringLiteral("delete"),
    };
    return table;
}

bool IsKeyword(QStringView word) {
    // The table by length, and which characters begin an entry of each
    // length: most words are no keyword and are turned away by that alone.
    struct Table {
        std::vector<std::u16string> byLength[12];
        quint64 starts[12][2] = {};
    };
    static const Table table = [] {
        Table t;
        for (const QString &k : Keywords()) {
            const size_t n = size_t(k.size());
            t.byLength[n].emplace_back(reinterpret_cast<const char16_t *>(k.utf16()), n);
            const ushort c = k[0].unicode();
            t.starts[n][c / 64] |= quint64(1) << (c % 64);
        }
        return t;
    }();
    const qsizetype n = word.size();
    if (n < 2 || n > 11) return false;
    const ushort c = word[0].unicode();
    if (c >= 128 || !(table.starts[n][c / 64] & (quint64(1) << (c % 64)))) return false;
    for (const std::u16string &k : table.byLength[n])
        if (std::memcmp(k.data(), word.data(), size_t(n) * sizeof(char16_t)) == 0) return true;
    return false;
}

void LineRange(const TText &text, int line, int &first, int &last) {
    const int start = text.LineStart(line);
    first = line == 0 ? 1 : start;
    last = line + 1 < text.LineCount() ? text.LineEnd(line) + 1 : text.Length();
}

}  // namespace colouring
