// The Output pane's own rows and the compiler's command line.
#include "compile.h"

#include "cmdquote.h"
#include "pathext.h"

#include <QFile>

namespace buildcmd {

const QString StartFailedLine = QStringLiteral("* コンパイラの起動に失敗しました。");
const QString EndLine = QStringLiteral("- コンパイル終了。");
const QString StoppedLine = QStringLiteral("* コンパイルを中止しました。");

QString CharacterInTheWay(const QString &S) {
    if (S.isEmpty()) return QString();  // an untitled document's compile runs with the empty path
    const QString shortPath = ShortPath(S);
    // A line break would split the echo row, and the runner ends the line at a NUL.
    for (const QChar c : shortPath)
        if (c == u'\n' || c == u'\r' || c == u'\0') return QString(c);
    return QString();
}

QString PathRefusedLine(const QString &inTheWay) {
    QString name;
    if (inTheWay == QLatin1String("\n") || inTheWay == QLatin1String("\r"))
        name = QStringLiteral("改行");
    else if (!inTheWay.isEmpty() && inTheWay[0].isPrint())
        name = QStringLiteral("文字「%1」").arg(inTheWay);
    else
        name = QStringLiteral("文字 U+%1").arg(inTheWay.isEmpty() ? 0u : inTheWay.toUcs4().value(0), 4, 16,
                                                 QLatin1Char('0'));
    return QStringLiteral("* ") + name + QStringLiteral("を含むパスのファイルはコンパイルできません。");
}

QString CompilerCommandLine(const QString &S) {
    const QString prefix = QStringLiteral("lcc86.exe -O -js -w1 -c ");
    // The untitled document's empty path stays the blank it always was.
    if (S.isEmpty()) return prefix + ShortPath(S);
    // Quoting adds only ASCII between whole characters, so the text decodes
    // back to the path with its quotes.
    return prefix + QFile::decodeName(QuoteArgument(QFile::encodeName(ShortPath(S))));
}

QString StartLine(const QString &S) {
    return QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…");
}

QString NotNeededLine(const QString &S) {
    return QStringLiteral("* ") + S + QStringLiteral("のコンパイルは必要ありません。");
}

QString EchoLine(const QString &cmd) { return QStringLiteral("> ") + cmd; }

}  // namespace buildcmd
