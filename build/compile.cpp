// File dates and the up-to-date test of the Compile command.
#include "compile.h"

#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

#include "projectnodes.h"

namespace buildcmd {

qint32 PackDosDate(const QDateTime &localTime) {
    if (!localTime.isValid()) return -1;
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    if (d.year() < 1980 || d.year() > 2107) return -1;
    const quint32 packed = quint32(d.year() - 1980) << 25 | quint32(d.month()) << 21 |
                           quint32(d.day()) << 16 | quint32(t.hour()) << 11 |
                           quint32(t.minute()) << 5 | quint32(t.second() / 2);
    // The year's top bit becomes the sign: dates from 2044 on are negative.
    return static_cast<qint32>(packed);
}

qint32 FileDate(const QString &path) {
    if (path.isEmpty()) return -1;
    QFile f(path);
    // Opening refuses directories and links that lead nowhere.
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QDateTime written = f.fileTime(QFileDevice::FileModificationTime);
    f.close();
    return PackDosDate(written.toLocalTime());
}

bool FileExists(const QString &path) {
    if (path.isEmpty()) return false;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir()) return false;
    return PackDosDate(info.lastModified().toLocalTime()) != -1;
}

bool NeedsCompile(const QString &S, const QTreeWidget *TreeView1) {
    const QString O = ObjectPath(S);
    if (!FileExists(O)) return true;
    const qint32 DS = FileDate(S);
    const qint32 DO = FileDate(O);
    if (DS > DO) return true;
    if (!TreeView1) return false;
    // The count is read afresh at every step.
    for (int i = 1; i < project::NodeCount(TreeView1); ++i) {
        const QTreeWidgetItem *node = project::NodeAt(TreeView1, i);
        if (!project::HasPath(node)) continue;
        const QString header = project::NodePath(node);
        if (PathExtension(header).compare(QLatin1String(".h"), Qt::CaseInsensitive) != 0) continue;
        // Headers are weighed against the source, not the object.
        if (FileDate(header) > DS) return true;
    }
    return false;
}

}  // namespace buildcmd
