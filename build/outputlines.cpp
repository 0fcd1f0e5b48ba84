// The Output pane's own rows and the compiler's command line.
#include "compile.h"

#if __has_include("childwin.h")
#include "childwin.h"
#else
QString ShortPath(const QString &path);
#endif

namespace buildcmd {

const QString StartFailedLine = QStringLiteral("* コンパイラの起動に失敗しました。");
const QString EndLine = QStringLiteral("- コンパイル終了。");

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
