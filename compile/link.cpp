// The link step of Build and Rebuild: the program's name and place, the
// linker's command line, its up-to-date test and its rows.
#include "compile.h"

#include "cmdquote.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace buildcmd {

const QString LinkEndLine = QStringLiteral("- リンク終了。");
const QString LinkStoppedLine = QStringLiteral("* リンクを中止しました。");
const QString NotLinkedLine = QStringLiteral("* コンパイルできなかったファイルがあるため、リンクしません。");
const QString LinkerStartFailedLine = QStringLiteral("* リンカの起動に失敗しました。");

namespace {
QString Word(const QString &path) { return QFile::decodeName(QuoteArgument(QFile::encodeName(ShortPath(path)))); }

// The last-write time in nanoseconds; -1 for what is no readable regular file.
qint64 ModifiedNs(const QString &path) {
    struct stat st;
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
}  // namespace

QString ProgramPath(const QString &projectFile, const QString &projectName, const QStringList &sources) {
    QString name;
    for (const QChar c : projectName) name += (c == u'/' || c == u'\\' || c == u':' || c.unicode() < 0x20) ? u'_' : c;
    name = name.trimmed();
    if (name.isEmpty()) name = QFileInfo(projectFile).completeBaseName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) name = QStringLiteral("noname");
    QString folder;
    if (!projectFile.isEmpty()) folder = QFileInfo(projectFile).absolutePath();
    else if (!sources.isEmpty()) folder = QFileInfo(sources.first()).absolutePath();
    else folder = QDir::currentPath();
    return QDir(folder).filePath(name + QStringLiteral(".com"));
}

QString LinkerCommandLine(const QString &program, const QStringList &objects) {
    QString line = QStringLiteral("lcc86.exe -o ") + Word(program);
    for (const QString &object : objects) line += u' ' + Word(object);
    return line;
}

bool NeedsLink(const QString &program, const QStringList &objects, const QString &projectFile) {
    const qint64 made = ModifiedNs(program);
    if (made < 0) return true;
    for (const QString &object : objects) {
        const qint64 t = ModifiedNs(object);
        if (t < 0 || t >= made) return true;
    }
    return ModifiedNs(projectFile) >= made;
}

QString LinkStartLine(const QString &program) {
    return QStringLiteral("- ") + program + QStringLiteral("のリンクを開始します…");
}

QString LinkNotNeededLine(const QString &program) {
    return QStringLiteral("* ") + program + QStringLiteral("のリンクは必要ありません。");
}

QString LinkFailedLine(const QString &program) {
    return QStringLiteral("* ") + program + QStringLiteral("を作成できませんでした。");
}

}  // namespace buildcmd
