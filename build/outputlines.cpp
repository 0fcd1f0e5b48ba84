// The Output pane's own rows and the compiler's command line.
#include "compile.h"

#include "cmdline.h"
#include "pathext.h"

#include <QFile>

namespace buildcmd {

const QString StartFailedLine = QStringLiteral("* コンパイラの起動に失敗しました。");
const QString EndLine = QStringLiteral("- コンパイル終了。");
const QString StoppedLine = QStringLiteral("* コンパイルを中止しました。");

namespace {

// Whether the command line, as the runner takes it apart, gives the compiler
// `path` as its last word, whole and unchanged.
bool CarriedWhole(const QString &path) {
    QByteArray line = QFile::encodeName(CompilerCommandLine(path));
    const qsizetype nul = line.indexOf('\0');
    if (nul >= 0) line.truncate(nul);  // the runner ends the line there
    const QList<QByteArray> words = SplitCommandLine(line);
    return words.size() == 6 && words.last() == QFile::encodeName(path);
}

}  // namespace

QString CharacterInTheWay(const QString &S) {
    if (S.isEmpty()) return QString();  // an untitled document's compile runs with the empty path
    const QString shortPath = ShortPath(S);
    if (CarriedWhole(shortPath)) return QString();
    // The first character whose prefix of the path no longer comes through.
    for (qsizetype end = 1; end <= shortPath.size(); ++end) {
        if (end < shortPath.size() && shortPath[end].isLowSurrogate()) continue;
        if (CarriedWhole(shortPath.left(end))) continue;
        qsizetype start = end - 1;
        if (start > 0 && shortPath[start].isLowSurrogate()) --start;
        return shortPath.mid(start, end - start);
    }
    return shortPath.right(1);
}

QString PathRefusedLine(const QString &inTheWay) {
    QString name;
    if (inTheWay == QLatin1String(" "))
        name = QStringLiteral("空白");
    else if (inTheWay == QLatin1String("\t"))
        name = QStringLiteral("タブ");
    else if (inTheWay == QLatin1String("\""))
        name = QStringLiteral("二重引用符 (\")");
    else if (!inTheWay.isEmpty() && inTheWay[0].isPrint())
        name = QStringLiteral("文字「%1」").arg(inTheWay);
    else
        name = QStringLiteral("文字 U+%1").arg(inTheWay.isEmpty() ? 0u : inTheWay.toUcs4().value(0), 4, 16,
                                                 QLatin1Char('0'));
    return QStringLiteral("* ") + name + QStringLiteral("を含むパスのファイルはコンパイルできません。");
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
