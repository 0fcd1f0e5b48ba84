#include "project.h"

#include "qverror.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>

namespace project {

namespace {

// Labels are ordered case-sensitively by UTF-16 code unit: for the text a project
// holds that is code point order, the byte order of the Linux file names.
bool LabelLess(const Node &a, const Node &b) { return QString::compare(a.Label, b.Label, Qt::CaseSensitive) < 0; }

}  // namespace

QStringList Project::FilePaths() const {
    QStringList paths;
    for (int i = 1; i < Count(); ++i)
        if (Nodes[i].HasPath) paths.append(Nodes[i].Path);
    return paths;
}

int Project::IndexOfPath(const QString &path) const {
    // Paths name the same file only when they are equal: Linux file names are
    // case-sensitive, so a.c and A.c are two files.
    for (int i = 0; i < Count(); ++i)
        if (Nodes[i].HasPath && Nodes[i].Path == path) return i;
    return -1;
}

Project Project::Named(const QString &name) {
    Project p;
    p.Nodes.append(Node{name, QString(), false});
    return p;
}

// Siblings stay sorted by label from index 2 on; only the node created last, at
// index 1, can be out of place. Moving it to the first place among the rest whose
// label is not smaller is exactly what a stable sort of the whole list would do,
// at the cost of one binary search.
int PlaceFirstChild(QList<Node> &nodes) {
    if (nodes.size() < 3) return -1;
    const auto at = std::lower_bound(nodes.begin() + 2, nodes.end(), nodes[1], LabelLess);
    const int to = int(at - nodes.begin()) - 1;  // its index once it has been taken out
    if (to == 1) return -1;
    nodes.move(1, to);
    return to;
}

int Project::AddFile(const QString &label, const QString &path, int *sortedTo) {
    const int moved = PlaceFirstChild(Nodes);
    if (sortedTo) *sortedTo = moved;
    const int at = Nodes.isEmpty() ? 0 : 1;
    Nodes.insert(at, Node{label, path, true});
    return at;
}

void Project::RemoveNode(int i) {
    if (i < 0 || i >= Count()) return;
    if (i == 0)
        Nodes.clear();  // the nodes under it go with it
    else
        Nodes.removeAt(i);
}

// ---- The project file --------------------------------------------------------

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

// The nodes that creating each file node in turn, first child after the sort,
// leaves: the last one first, then the others sorted, ties newest first.
QList<Node> NodesInTreeOrder(const QString &name, QList<Node> files) {
    QList<Node> nodes{Node{name, QString(), false}};
    if (files.isEmpty()) return nodes;
    nodes.reserve(files.size() + 1);
    nodes.append(files.takeLast());
    std::reverse(files.begin(), files.end());
    std::stable_sort(files.begin(), files.end(), LabelLess);
    nodes.append(files);
    return nodes;
}

}  // namespace

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
    const QString name = sjis::decode(line);
    const QByteArray nameBytes = line;
    QList<Node> files;
    QList<QByteArray> fileBytes;
    QByteArray all = line;  // every label and path, for the file's choice of codes
    QByteArray path;
    while (reader.next(line, newline)) {
        if (!reader.next(path, newline)) {
            res.droppedLabel = true;
            break;
        }
        files.append(Node{sjis::decode(line), sjis::decode(path), true});
        fileBytes << line << path;
        all += line;
        all += '\n';
        all += path;
        all += '\n';
    }
    Project &p = res.project;
    p.Nodes = NodesInTreeOrder(name, std::move(files));
    p.Codes = sjis::chooseCodes(all);
    // A line that the choice would write otherwise keeps its own bytes.
    auto keep = [&](const QByteArray &bytes) {
        QByteArray again;
        const QString text = sjis::decode(bytes);
        if (!sjis::encode(text, again, nullptr, &p.Codes) || again != bytes) p.Lines.insert(text, bytes);
    };
    keep(nameBytes);
    for (const QByteArray &b : std::as_const(fileBytes)) keep(b);
    res.status = ReadStatus::Ok;
    return res;
}

ReadResult ReadProjectBytes(const QByteArray &bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadProject(buffer, bytes.size());
}

QByteArray ProjectBytes(const Project &project, const QString &fileName) {
    QByteArray out;
    if (project.IsEmpty()) return out;
    out.reserve(64 * project.Count());
    out += ProjectMagic;
    out += "\r\n";
    PutLine(out, project.Nodes[0].Label, fileName, project.Codes, project.Lines);
    for (int i = 1; i < project.Count(); ++i) {
        const Node &node = project.Nodes[i];
        PutLine(out, node.Label, fileName, project.Codes, project.Lines);
        PutLine(out, node.Path, fileName, project.Codes, project.Lines);
    }
    return out;
}

}  // namespace project
