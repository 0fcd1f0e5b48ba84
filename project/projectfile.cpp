#include "projectfile.h"

#include "newproj.h"
#include "projecttree.h"
#include "qverror.h"
#include "sjis.h"

#include "errorreport.h"
#include "safewrite.h"

#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

#include <sys/stat.h>

namespace project {

namespace {

constexpr char kCtrlZ = 26;
constexpr qsizetype kBlock = 64 * 1024;

// Reads the lines of a project file as the C library's text mode shows them:
// CR bytes are dropped and a byte 26 ends the file.
class LineReader {
public:
    // Reads no more than `limit` bytes of `in`.
    LineReader(QIODevice &in, qint64 limit) : In(in), Left(limit) {}

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
        Buf = Left > 0 ? In.read(std::min(kBlock, Left)) : QByteArray();
        Left -= Buf.size();
        Pos = 0;
        if (Buf.isEmpty()) {
            AtEnd = true;
            return false;
        }
        return true;
    }

    QIODevice &In;
    qint64 Left;
    QByteArray Buf;
    qsizetype Pos = 0;
    bool AtEnd = false;
};

// One line of the file for a label or path: its Shift-JIS bytes, then CR LF.
void PutLine(QByteArray &out, const QString &text, const QString &projectPath, const sjis::CodeChoice &codes,
             const QHash<QString, QByteArray> &lines) {
    QByteArray bytes;
    sjis::EncodeError err;
    if (const auto kept = lines.constFind(text); kept != lines.cend())
        bytes = *kept;
    else if (!sjis::encode(text, bytes, &err, &codes))
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

ReadResult ReadProject(QIODevice &in, qint64 size) {
    ReadResult res;
    LineReader reader(in, size);
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
    const QByteArray nameBytes = line;
    QList<QByteArray> fileBytes;
    QByteArray all = line;  // every label and path, for the file's choice of codes
    QByteArray path;
    while (reader.next(line, newline)) {
        if (!reader.next(path, newline)) {
            res.droppedLabel = true;
            break;
        }
        res.data.files.append({sjis::decode(line), sjis::decode(path)});
        fileBytes << line << path;
        all += line;
        all += '\n';
        all += path;
        all += '\n';
    }
    res.data.codes = sjis::chooseCodes(all);
    // A line that the choice would write otherwise keeps its own bytes.
    auto keep = [&](const QByteArray &bytes) {
        QByteArray again;
        const QString text = sjis::decode(bytes);
        if (!sjis::encode(text, again, nullptr, &res.data.codes) || again != bytes) res.data.lines.insert(text, bytes);
    };
    keep(nameBytes);
    for (const QByteArray &b : std::as_const(fileBytes)) keep(b);
    res.status = ReadStatus::Ok;
    return res;
}

QByteArray ProjectBytes(const QTreeWidget *TreeView1, const QString &projectPath) {
    QByteArray out;
    const int count = NodeCount(TreeView1);
    out.reserve(64 * count);
    out += ProjectMagic;
    out += "\r\n";
    const sjis::CodeChoice codes = ProjectCodes(TreeView1);
    const QHash<QString, QByteArray> lines = ProjectLineBytes(TreeView1);
    PutLine(out, NodeAt(TreeView1, 0)->text(0), projectPath, codes, lines);
    for (int i = 1; i < count; ++i) {
        const QTreeWidgetItem *node = NodeAt(TreeView1, i);
        PutLine(out, node->text(0), projectPath, codes, lines);
        PutLine(out, NodePath(node), projectPath, codes, lines);
    }
    return out;
}

}  // namespace

ReadResult ReadProjectFile(const QString &path) {
    // Only a regular file is read (a FIFO would never end, a device would never
    // stop), and no further than its size when it was opened.
    QFile file;
    qint64 size = 0;
    try {
        size = OpenRegularFile(path, file);
    } catch (const EQvError &) {
        return ReadResult{};
    }
    return ReadProject(file, size);
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
    SetProjectCodes(TreeView1, data.codes, data.lines);
}

void ProjOpenItemClick(QTreeWidget *TreeView1, const std::function<void()> &ClearOutput, TFileDialog &OpenDialog1,
                       TFileDialog &SaveDialog1, QWidget *parent) {
    if (!OpenDialog1.Execute(parent)) {
        if (ClearOutput) ClearOutput();
        return;
    }
    OpenProject(TreeView1, OpenDialog1.FileName, ClearOutput, SaveDialog1, parent);
}

bool OpenProject(QTreeWidget *TreeView1, const QString &fileName, const std::function<void()> &ClearOutput,
                 TFileDialog &SaveDialog1, QWidget *parent) {
    if (!CanLeaveProject(TreeView1, SaveDialog1, parent)) return false;
    // The previous project is gone from here on, whatever the file holds.
    ClearProject(TreeView1);
    const ReadResult read = ReadProjectFile(fileName);
    if (read.status != ReadStatus::Ok) {
        // The tree is empty: a Save project now must not write over the file of
        // the project that is gone.
        SaveDialog1.FileName.clear();
        return false;
    }
    BuildProjectTree(TreeView1, read.data);
    ExpandAll(TreeView1);
    SaveDialog1.FileName = fileName;
    if (ClearOutput) ClearOutput();
    return true;
}

void ProjSaveItemClick(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent) {
    if (NodeCount(TreeView1) == 0) return;  // nothing to keep: no file, no dialog
    if (SaveDialog1.FileName.isEmpty()) {
        if (!SaveDialog1.Execute(parent)) return;
        if (!MayReplace(SaveDialog1.FileName, parent)) {
            // Not saved: the project still has no file of its own.
            SaveDialog1.FileName.clear();
            return;
        }
    }
    WriteProjectFile(SaveDialog1.FileName, TreeView1);
    SetProjectChanged(TreeView1, false);
}

bool SaveProject(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent) {
    return Guarded([&] { ProjSaveItemClick(TreeView1, SaveDialog1, parent); }, parent) &&
           !ProjectNeedsSaving(TreeView1);
}

bool ProjectNeedsSaving(const QTreeWidget *TreeView1) {
    return ProjectChanged(TreeView1) && NodeCount(TreeView1) > 0;
}

int AskSaveProject(const QTreeWidget *TreeView1, QWidget *parent) {
    const QTreeWidgetItem *first = NodeAt(TreeView1, 0);
    const QString name = first ? first->text(0) : QString();
    return AskSaveDiscardCancel(QStringLiteral("プロジェクト %1 への変更を保存しますか?").arg(name), parent);
}

bool CanLeaveProject(QTreeWidget *TreeView1, TFileDialog &SaveDialog1, QWidget *parent) {
    if (!ProjectNeedsSaving(TreeView1)) return true;
    switch (AskSaveProject(TreeView1, parent)) {
    case QMessageBox::Save:
        return SaveProject(TreeView1, SaveDialog1, parent);
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void ProjNewItemClick(QTreeWidget *TreeView1, const std::function<void()> &ClearOutput, TFileDialog &SaveDialog1,
                      QWidget *parent) {
    {
        TNewProjDlg dlg(parent);
        const int result = dlg.exec();
        if (result == QDialog::Accepted) {
            // Cancel in the question keeps everything, the Output pane too.
            if (!CanLeaveProject(TreeView1, SaveDialog1, parent)) return;
            ClearProject(TreeView1);
            CreateProjectNode(TreeView1, dlg.ProjName->text());
            // A new project has no file yet: the next Save project asks where to save.
            SaveDialog1.FileName.clear();
        }
    }
    if (ClearOutput) ClearOutput();
}

bool MayReplace(const QString &path, QWidget *parent) {
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Quelvane"),
                    QStringLiteral("%1 は既に存在します。\n置き換えますか?").arg(path), QMessageBox::Yes | QMessageBox::No,
                    parent);
    box.setObjectName(QStringLiteral("ReplaceQuestion"));
    box.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
    box.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
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
