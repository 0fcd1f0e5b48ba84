#include "projectfile.h"

#include "newproj.h"
#include "projecttree.h"
#include "qverror.h"
#include "sjis.h"

#include "safewrite.h"

#include <QFile>
#include <QListWidget>
#include <QTreeWidget>

namespace project {

namespace {

constexpr char kCtrlZ = 26;
constexpr qsizetype kBlock = 64 * 1024;

// Reads the lines of a project file as the C library's text mode shows them:
// CR bytes are dropped and a byte 26 ends the file.
class LineReader {
public:
    explicit LineReader(QIODevice &in) : In(in) {}

    // The next line, without its newline. False when nothing is left to read.
    // `newline` tells whether the line ended in one. With a limit, reading stops
    // once the line has more bytes than that (the line is then incomplete).
    bool next(QByteArray &line, bool &newline, qsizetype limit = -1) {
        line.clear();
        newline = false;
        for (;;) {
            if (Pos >= Buf.size() && !fill()) return !line.isEmpty();
            const char *p = Buf.constData();
            const qsizetype n = Buf.size();
            qsizetype k = Pos;
            while (k < n && p[k] != '\n' && p[k] != kCtrlZ) ++k;
            appendWithoutCR(p + Pos, k - Pos, line);
            if (k < n) {
                if (p[k] == '\n') {
                    newline = true;
                    Pos = k + 1;
                    return true;
                }
                AtEnd = true;  // byte 26
                Buf.clear();
                Pos = 0;
                return !line.isEmpty();
            }
            Pos = k;
            if (limit >= 0 && line.size() > limit) return true;
        }
    }

private:
    static void appendWithoutCR(const char *p, qsizetype n, QByteArray &out) {
        qsizetype start = 0;
        for (qsizetype i = 0; i < n; ++i) {
            if (p[i] != '\r') continue;
            out.append(p + start, i - start);
            start = i + 1;
        }
        out.append(p + start, n - start);
    }

    bool fill() {
        if (AtEnd) return false;
        Buf = In.read(kBlock);
        Pos = 0;
        if (Buf.isEmpty()) {
            AtEnd = true;
            return false;
        }
        return true;
    }

    QIODevice &In;
    QByteArray Buf;
    qsizetype Pos = 0;
    bool AtEnd = false;
};

// One line of the file for a label or path: its Shift-JIS bytes, then CR LF.
void PutLine(QByteArray &out, const QString &text, const QString &projectPath) {
    QByteArray bytes;
    sjis::EncodeError err;
    if (!sjis::encode(text, bytes, &err))
        throw EQvError(QStringLiteral("%1 をプロジェクトファイル %2 に書けません（Shift-JISにない文字 %3）")
                           .arg(text, projectPath, sjis::describeChar(err.ch)));
    for (char c : std::as_const(bytes)) {
        if (c == '\n' || c == '\r' || c == kCtrlZ)
            throw EQvError(QStringLiteral("%1 をプロジェクトファイル %2 に書けません（改行か文字コード26を含みます）")
                               .arg(text, projectPath));
    }
    out += bytes;
    out += "\r\n";
}

const QString kProjectFilter = QStringLiteral("Quelvaneプロジェクト(*.prj)|*.prj");

ReadResult ReadProject(QIODevice &in) {
    ReadResult res;
    LineReader reader(in);
    QByteArray line;
    bool newline = false;
    // The first line must be the magic line with its newline, byte for byte; a
    // longer line is refused as soon as it is longer.
    if (!reader.next(line, newline, qsizetype(sizeof ProjectMagic))) {
        res.status = ReadStatus::Empty;
        return res;
    }
    if (!newline || line != QByteArrayView(ProjectMagic)) {
        res.status = ReadStatus::BadMagic;
        return res;
    }
    if (!reader.next(line, newline)) {
        res.status = ReadStatus::NoName;
        return res;
    }
    res.data.name = sjis::decode(line);
    QByteArray path;
    while (reader.next(line, newline)) {
        if (!reader.next(path, newline)) {
            res.droppedLabel = true;
            break;
        }
        res.data.files.append({sjis::decode(line), sjis::decode(path)});
    }
    res.status = ReadStatus::Ok;
    return res;
}

QByteArray ProjectBytes(const QTreeWidget *TreeView1, const QString &projectPath) {
    QByteArray out;
    const int count = NodeCount(TreeView1);
    out.reserve(64 * count);
    out += ProjectMagic;
    out += "\r\n";
    PutLine(out, NodeAt(TreeView1, 0)->text(0), projectPath);
    for (int i = 1; i < count; ++i) {
        const QTreeWidgetItem *node = NodeAt(TreeView1, i);
        PutLine(out, node->text(0), projectPath);
        PutLine(out, NodePath(node), projectPath);
    }
    return out;
}

}  // namespace

ReadResult ReadProjectFile(const QString &path) {
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return ReadResult{};
    return ReadProject(file);
}

void WriteProjectFile(const QString &path, const QTreeWidget *TreeView1) {
    if (NodeCount(TreeView1) == 0) return;
    // Everything is encoded before the file is touched: a refused label or path
    // leaves the old file as it was.
    const QByteArray bytes = ProjectBytes(TreeView1, path);
    WriteWholeFile(path, bytes);
}

void BuildProjectTree(QTreeWidget *TreeView1, const ProjectData &data) {
    ClearProject(TreeView1);
    CreateProjectNode(TreeView1, data.name);
    for (const auto &file : data.files) CreateFileNode(TreeView1, file.first, file.second);
}

void ProjOpenItemClick(QTreeWidget *TreeView1, QListWidget *Output, TFileDialog &OpenDialog1, TFileDialog &SaveDialog1,
                       QWidget *parent) {
    if (!OpenDialog1.Execute(parent)) {
        if (Output) Output->clear();
        return;
    }
    // The previous project is gone from here on, whatever the file holds.
    ClearProject(TreeView1);
    const QString fileName = OpenDialog1.FileName;
    const ReadResult read = ReadProjectFile(fileName);
    if (read.status != ReadStatus::Ok) return;
    BuildProjectTree(TreeView1, read.data);
    ExpandAll(TreeView1);
    SaveDialog1.FileName = fileName;
    if (Output) Output->clear();
}

void ProjSaveItemClick(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent) {
    if (NodeCount(TreeView1) == 0) return;  // nothing to keep: no file, no dialog
    if (SaveDialog1.FileName.isEmpty() && !SaveDialog1.Execute(parent)) return;
    WriteProjectFile(SaveDialog1.FileName, TreeView1);
}

void ProjNewItemClick(QTreeWidget *TreeView1, QListWidget *Output, TFileDialog &SaveDialog1, QWidget *parent) {
    {
        TNewProjDlg dlg(parent);
        const int result = TNewProjDlg::ExecHook ? TNewProjDlg::ExecHook(dlg) : dlg.exec();
        if (result == QDialog::Accepted) {
            ClearProject(TreeView1);
            CreateProjectNode(TreeView1, dlg.ProjName->text());
            // A new project has no file yet: the next Save project asks where to save.
            SaveDialog1.FileName.clear();
        }
    }
    if (Output) Output->clear();
}

void SetupOpenDialog1(TFileDialog &OpenDialog1) {
    OpenDialog1.DialogKind = TFileDialog::Open;
    OpenDialog1.Title = QStringLiteral("プロジェクトを開く");
    OpenDialog1.Filter = kProjectFilter;
    OpenDialog1.DefaultExt = QStringLiteral("*.prj");
    OpenDialog1.FileMustExist = false;
    OpenDialog1.OverwritePrompt = false;
}

void SetupSaveDialog1(TFileDialog &SaveDialog1) {
    SaveDialog1.DialogKind = TFileDialog::Save;
    SaveDialog1.Title.clear();
    SaveDialog1.Filter = kProjectFilter;
    SaveDialog1.DefaultExt = QStringLiteral("*.prj");
    SaveDialog1.FileMustExist = false;
    SaveDialog1.OverwritePrompt = false;
}

}  // namespace project
