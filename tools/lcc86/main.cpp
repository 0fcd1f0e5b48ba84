// lcc86.exe: the C compiler that Quelvane's Compile command runs, for Linux.
//
//   lcc86.exe [-O] [-js] [-w1] [-c] SOURCE
//
// SOURCE is a name in the file system's encoding or, when it names no file as
// it is, in Shift-JIS. It is compiled with the host C compiler "cc" (found in
// the absolute directories of PATH, started without a shell, in this
// program's process group) into the object file that the up-to-date test
// looks for: SOURCE with its extension replaced by ".obj". -O optimises
// (-O2), -js reads the source and keeps its strings in Shift-JIS (CP932), -w1
// turns warnings on (-Wall), -c is accepted and changes nothing: there is
// never a link step. Options may come in any order; anything else is refused.
//
// Everything is printed on standard output in Shift-JIS, whatever the locale.
// A message about a place in a file becomes "PATH LINE: kind: text", PATH
// exactly as the command line gave it for the source itself, or as cc named an
// existing file (an included header). Every other line, and every message
// whose path holds a blank or can't be written in Shift-JIS, is printed with
// two leading blanks, so that it never reads as a message for some file.
// lcc86.exe's own complaints begin "lcc86.exe: "; the usage text goes to
// standard error.
//
// Exit status: cc's (128 + signal when cc was killed); 2 for a bad command
// line; 1 when the source can't be read or cc can't be started.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "compile.h"
#include "sjis.h"
#include "spawnpipe.h"

extern char **environ;

namespace {

void writeLine(FILE *to, const QByteArray &sjisBytes) {
    std::fwrite(sjisBytes.constData(), 1, size_t(sjisBytes.size()), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void say(FILE *to, const QString &text) { writeLine(to, sjis::encodeLossy(text)); }

int usage() {
    say(stderr, QStringLiteral("使い方: lcc86.exe [-O] [-js] [-w1] [-c] ソースファイル"));
    return 2;
}

// A path's text in Shift-JIS as the Output pane will read it back; empty when
// that can't be done without loss, or when the path holds a blank (the pane's
// file field ends at the first blank).
QByteArray navigablePath(const QString &text) {
    QByteArray out;
    if (text.isEmpty() || text.contains(u' ') || !sjis::encode(text, out) || sjis::decode(out) != text)
        return {};
    return out;
}

// The name of a file on disk as cc prints it, to the same Shift-JIS.
QByteArray navigableFile(const QByteArray &name) {
    const QString text = QFile::decodeName(name);
    return QFile::encodeName(text) == name ? navigablePath(text) : QByteArray();
}

bool readableFile(const QByteArray &name) {
    struct stat st;
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (fd >= 0) ::close(fd);
    return ok;
}

// The source named on the command line: its name on disk and its text. The
// IDE's command line may carry it in the file system's encoding or in
// Shift-JIS; bytes that name no file as they are are read as Shift-JIS.
bool findSource(const QByteArray &given, QByteArray *file, QString *text) {
    *file = given;
    *text = QFile::decodeName(given);
    if (QFile::encodeName(*text) != given) *text = sjis::decode(given);
    if (readableFile(given)) return true;
    const QString sjisText = sjis::decode(given);
    const QByteArray sjisFile = QFile::encodeName(sjisText);
    if (sjisFile == given || !readableFile(sjisFile)) return false;
    *file = sjisFile;
    *text = sjisText;
    return true;
}

bool allDigits(const QByteArray &s) {
    if (s.isEmpty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Reads "LINE:" or "LINE:COL:" at from; on success gives the line and the text
// after the location (starting with its blank).
bool parseLocation(const QByteArray &line, qsizetype from, QByteArray *number, QByteArray *rest) {
    const qsizetype c1 = line.indexOf(':', from);
    if (c1 < 0 || !allDigits(line.mid(from, c1 - from))) return false;
    qsizetype end = c1;
    const qsizetype c2 = line.indexOf(':', c1 + 1);
    if (c2 > 0 && allDigits(line.mid(c1 + 1, c2 - c1 - 1))) end = c2;
    if (!line.mid(end + 1).startsWith(' ')) return false;
    *number = line.mid(from, c1 - from);
    *rest = line.mid(end + 1);
    return true;
}

class Reshaper {
public:
    Reshaper(const QByteArray &file, const QString &text) : Source(file), SourceOut(navigablePath(text)) {}

    // One line of cc's output (UTF-8, as cc writes under LC_ALL=C) to one
    // Shift-JIS line.
    QByteArray operator()(const QByteArray &line) const {
        if (line.isEmpty()) return line;
        QByteArray number, rest;
        // A message about the source: its path is known exactly.
        if (line.startsWith(Source + ':') && parseLocation(line, Source.size() + 1, &number, &rest)) {
            if (!SourceOut.isEmpty()) return SourceOut + ' ' + number + ':' + text(rest);
            return "  " + text(line);
        }
        // A message about another file that exists (a header): "PATH:LINE[:COL]: ".
        for (qsizetype c = line.indexOf(':'); c > 0; c = line.indexOf(':', c + 1)) {
            if (!parseLocation(line, c + 1, &number, &rest)) continue;
            const QByteArray path = line.left(c);
            const QByteArray out = navigableFile(path);
            if (out.isEmpty() || !QFileInfo(QFile::decodeName(path)).isFile()) break;
            return out + ' ' + number + ':' + text(rest);
        }
        return "  " + text(line);
    }

private:
    static QByteArray text(const QByteArray &utf8) { return sjis::encodeLossy(QString::fromUtf8(utf8)); }

    QByteArray Source;
    QByteArray SourceOut;
};

}  // namespace

int main(int argc, char **argv) {
    bool optimise = false, shiftJis = false, warnings = false;
    QByteArray source;
    bool haveSource = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-O") optimise = true;
        else if (a == "-js") shiftJis = true;
        else if (a == "-w1") warnings = true;
        else if (a == "-c") {
        } else if (a.startsWith('-') || a.isEmpty() || haveSource) return usage();
        else {
            source = a;
            haveSource = true;
        }
    }
    if (!haveSource) return usage();

    QByteArray file;
    QString text;
    if (!findSource(source, &file, &text)) {
        say(stdout, QStringLiteral("lcc86.exe: ファイル %1 を開けません").arg(text));
        return 1;
    }
    // The object beside the source on disk. Byte for byte: in a UTF-8 name no
    // byte of a multi-byte character is ".", "/", "\\" or ":", so this is the
    // IDE's ObjectPath of the name it holds, for every name the disk may hold.
    const QByteArray object = buildcmd::ObjectPath(QString::fromLatin1(file)).toLatin1();

    std::vector<QByteArray> args = {"cc", "-c", "-x", "c"};
    if (optimise) args.push_back("-O2");
    if (warnings) args.push_back("-Wall");
    if (shiftJis) {
        args.push_back("-finput-charset=CP932");
        args.push_back("-fexec-charset=CP932");
    }
    for (const char *a : {"-fdiagnostics-color=never", "-fno-diagnostics-show-caret",
                          "-fdiagnostics-plain-output", "-o"})
        args.push_back(a);
    args.push_back(object);
    args.push_back(file);
    // cc's messages in plain English and ASCII quotes, whatever the user's locale.
    std::vector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray v(*e);
        if (v.startsWith("LC_ALL=") || v.startsWith("LANGUAGE=")) continue;
        env.push_back(v);
    }
    env.push_back("LC_ALL=C");
    std::vector<char *> envp;
    for (QByteArray &v : env) envp.push_back(v.data());
    envp.push_back(nullptr);

    // cc stays in this program's process group, so that a signal to the
    // group that the IDE started (a stopped compile) reaches it as well.
    TSpawnOptions options;
    options.Environment = envp.data();
    options.OwnProcessGroup = false;
    const QByteArray cc = FindProgram("cc");
    TSpawnedChild child;
    int error = ENOENT;
    if (cc.isEmpty() || !SpawnWithPipe(cc, QList<QByteArray>(args.begin(), args.end()), options, &child, &error)) {
        say(stdout, QStringLiteral("lcc86.exe: C コンパイラ cc を起動できません (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
        return 1;
    }

    const Reshaper reshape(file, text);
    QByteArray pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(child.ReadEnd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, n);
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            writeLine(stdout, reshape(pending.left(nl)));
            pending.remove(0, nl + 1);
        }
    }
    if (!pending.isEmpty()) writeLine(stdout, reshape(pending));
    ::close(child.ReadEnd);

    const int status = ReapChild(child.Pid);
    return status < 0 ? 1 : status;
}
