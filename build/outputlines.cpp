// The Output pane's own rows and the compiler's command line.
#include "compile.h"

#include "childwin.h"

namespace buildcmd {

const QString StartFailedLine = QStringLiteral("* コンパイラの起動に失敗しました。");
const QString EndLine = QStringLiteral("- コンパイル終了。");
const QString BlankInPathLine = QStringLiteral("* 空白を含むパスのファイルはコンパイルできません。");

bool CommandLineSplitsPath(const QString &S) {
    if (S.isEmpty()) return false;  // an untitled document's compile runs with the empty path
    const QString shortPath = ShortPath(S);
    return shortPath.contains(QLatin1Char(' ')) || shortPath.contains(QLatin1Char('\t'));
}

QString CompilerCommandLine(const QString &S) {
    return QStringLiteral("lcc86.exe -O -js -w1 -c ") + ShortPath(S);
}

QString StartLine(const QString &S) {
    return QStringLiteral("- ") + S + QStringLiteral("のコンパイルを開始します…");
}

QString NotNeededLine(const QString &S) {
    return QStringLiteral("* ") + S + QStringLiteral("のコンパイルは必要ありません。");
}

QString EchoLine(const QString &cmd) { return QStringLiteral("> ") + cmd; }

}  // namespace buildcmd
