// lcc86.exe: the C compiler and linker that Quelvane's Compile and Build run,
// for Linux, on the 8086 tool chain bcc (Debian's packages bcc, bin86 and
// elks-libc). Its objects and programs are for the 8086 under MS-DOS, small
// model: a program is a .COM file.
//
//   lcc86.exe [-O] [-js] [-w1] [-c] SOURCE      compiles SOURCE
//   lcc86.exe -o PROGRAM OBJECT...                links the objects into PROGRAM
//
// Names on the command line are in the file system's encoding or, when they
// name no file as they are, in Shift-JIS.
//
// Compiling writes the object file that the up-to-date test looks for: SOURCE
// with its extension replaced by ".obj". -O optimises, -js reads the literals
// and comments of the source and of the headers it includes beside itself as
// Shift-JIS (sourceprep.h), -w1 keeps the compiler's warnings (without it they
// are left out), -c is accepted and changes nothing. Options may come in any
// order. The compiler reads copies of the source and of its headers in a
// folder of its own, which goes when the compile ends, however it ends: a
// source's bytes are never changed on disk.
//
// Linking writes PROGRAM only when the link succeeds (a failed link leaves an
// older program as it was). Every object must be an 8086 object file; an
// object of another machine is named, and nothing is linked.
//
// Everything is printed on standard output in Shift-JIS, whatever the locale.
// A compiler message about a place in a file becomes "PATH LINE: kind: text",
// PATH exactly as the command line gave it for the source itself, and for a
// header beside it the header's path written from the source's, blanks and
// all. Every other line, and every message whose path can't be written in
// Shift-JIS, is printed with two leading blanks, so that it never reads as a
// message for some file. lcc86.exe's own complaints begin "lcc86.exe: "; the
// usage text goes to standard error.
//
// The tool chain runs in this program's process group, so that a stop of the
// group ends it too; on SIGTERM, SIGINT or SIGHUP this program ends the tool
// it runs, removes its folder and ends with 128 + the signal.
//
// Exit status: the tool chain's (128 + signal when it was killed); 2 for a bad
// command line; 1 when a file can't be read or written or the tool chain is
// missing or can't be started.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringDecoder>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "compile.h"
#include "sjis.h"
#include "sourceprep.h"
#include "spawnpipe.h"

extern char **environ;

namespace {

volatile sig_atomic_t StopSignal = 0;

void OnStopSignal(int sig) { StopSignal = sig; }

void writeLine(FILE *to, const QByteArray &sjisBytes) {
    std::fwrite(sjisBytes.constData(), 1, size_t(sjisBytes.size()), to);
    std::fputc('\n', to);
    std::fflush(to);
}

void say(FILE *to, const QString &text) { writeLine(to, sjis::encodeLossy(text)); }

QString fileText(const QByteArray &name) { return QFile::decodeName(name); }

int usage() {
    say(stderr, QStringLiteral("使い方: lcc86.exe [-O] [-js] [-w1] [-c] ソースファイル\n"
                               "        lcc86.exe -o プログラム オブジェクトファイル..."));
    return 2;
}

int toolChainMissing() {
    say(stdout, QStringLiteral("lcc86.exe: 8086 用の C コンパイラ bcc が見つかりません。"
                               "パッケージ bcc、bin86、elks-libc をインストールしてください。"));
    return 1;
}

// ---- Paths as bytes -----------------------------------------------------------

QByteArray dirName(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0) return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray baseName(const QByteArray &path) { return path.mid(path.lastIndexOf('/') + 1); }

QByteArray joined(const QByteArray &dir, const QByteArray &name) {
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

// "." and ".." resolved by the text alone. No byte of a multi-byte character
// in UTF-8 is "/" or ".", so Latin-1 carries every name through unchanged.
QByteArray cleaned(const QByteArray &path) { return QDir::cleanPath(QString::fromLatin1(path)).toLatin1(); }

QByteArray absolute(const QByteArray &path) {
    if (path.startsWith('/')) return cleaned(path);
    QByteArray cwd(4096, '\0');
    while (!::getcwd(cwd.data(), size_t(cwd.size()))) {
        if (errno != ERANGE) return cleaned(path);
        cwd.resize(cwd.size() * 2);
    }
    return cleaned(joined(QByteArray(cwd.constData()), path));
}

// A word of the tool's command line that can't be taken for an option.
QByteArray argumentFor(const QByteArray &path) { return path.startsWith('-') ? "./" + path : path; }

bool isRegularFile(const QByteArray &name) {
    struct stat st;
    return ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool isDirectory(const QByteArray &name) {
    struct stat st;
    return ::stat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool readFile(const QByteArray &name, QByteArray *bytes) {
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    bytes->clear();
    char buf[65536];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        bytes->append(buf, n);
    }
    ::close(fd);
    return ok;
}

bool writeFile(const QByteArray &name, const QByteArray &bytes) {
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return ::close(fd) == 0 && done == bytes.size();
}

bool makeDirectories(const QByteArray &dir) {
    if (dir.isEmpty() || isDirectory(dir)) return true;
    if (!makeDirectories(dirName(dir))) return false;
    return ::mkdir(dir.constData(), 0700) == 0 || errno == EEXIST;
}

int removeEntry(const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }

void removeTree(const QByteArray &dir) {
    if (!dir.isEmpty()) ::nftw(dir.constData(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

// The name a command-line word stands for: as it is when that names a file
// (or, for a file still to be written, a folder), else read as Shift-JIS.
QByteArray findName(const QByteArray &given, bool toWrite, QString *text) {
    *text = QFile::decodeName(given);
    if (QFile::encodeName(*text) != given) *text = sjis::decode(given);
    const auto there = [toWrite](const QByteArray &n) { return toWrite ? isDirectory(dirName(n)) : isRegularFile(n); };
    if (there(given)) return given;
    const QString sjisText = sjis::decode(given);
    const QByteArray sjisName = QFile::encodeName(sjisText);
    if (sjisName == given || !there(sjisName)) return given;
    *text = sjisText;
    return sjisName;
}

// ---- Output in Shift-JIS --------------------------------------------------------

// A path's text in Shift-JIS as the Output pane will read it back; empty when
// that can't be done without loss. A path with blanks is written as it is:
// the pane tries the longest part of a row before a blank that names an
// open document when the part before the first blank names none.
QByteArray navigablePath(const QString &text) {
    if (text.isEmpty()) return {};
    bool ascii = true;
    for (const QChar c : text) ascii = ascii && c.unicode() < 0x80;
    if (ascii) return text.toLatin1();  // the same in Shift-JIS
    QByteArray out;
    if (!sjis::encode(text, out) || sjis::decode(out) != text) return {};
    return out;
}

// A line of the tool chain that names no place in a file: UTF-8 (a path of
// the file system) becomes Shift-JIS, other bytes (the source's own text)
// pass as they are.
QByteArray plainLine(const QByteArray &line) {
    bool ascii = true;
    for (char c : line) ascii = ascii && uchar(c) < 0x80;
    if (ascii) return line;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(line);
    return utf8.hasError() ? line : sjis::encodeLossy(text);
}

// ---- Running the tool chain --------------------------------------------------

struct ToolRun {
    int Status = -1;       // the exit status; -1 when it could not be started
    int Error = 0;         // why it could not be started
};

// Runs a program of the tool chain with its output, line by line, to `line`.
// A stop signal ends it and this program (after `cleanUp`).
ToolRun runTool(const QByteArray &program, const QList<QByteArray> &args, const QByteArray &workingDirectory,
                char *const *environment, const sigset_t &waitMask, const std::function<void(const QByteArray &)> &line,
                const std::function<void()> &cleanUp) {
    ToolRun run;
    TSpawnOptions options;
    options.Environment = environment;
    options.WorkingDirectory = workingDirectory;
    options.OwnProcessGroup = false;
    TSpawnedChild child;
    if (!SpawnWithPipe(program, args, options, &child, &run.Error)) return run;
    QByteArray pending;
    char buf[4096];
    pollfd pfd{child.ReadEnd, POLLIN, 0};
    while (!StopSignal) {
        // Stop signals are let in only while this waits.
        if (::ppoll(&pfd, 1, nullptr, &waitMask) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        const ssize_t n = ::read(child.ReadEnd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        pending.append(buf, n);
        qsizetype nl;
        while ((nl = pending.indexOf('\n')) >= 0) {
            line(pending.left(nl));
            pending.remove(0, nl + 1);
        }
    }
    ::close(child.ReadEnd);
    if (StopSignal) {
        ::kill(child.Pid, SIGKILL);
        ReapChild(child.Pid);
        cleanUp();
        std::_Exit(128 + int(StopSignal));
    }
    if (!pending.isEmpty()) line(pending);
    const int status = ReapChild(child.Pid);
    run.Status = status < 0 ? 1 : status;
    return run;
}

// The environment of the tool chain: messages in plain English, temporary
// files in `tmp` (or where the user's are, when it is empty).
struct Environment {
    explicit Environment(const QByteArray &tmp) {
        for (char **e = environ; *e; ++e) {
            const QByteArray v(*e);
            if (v.startsWith("LC_ALL=") || v.startsWith("LANGUAGE=") || (!tmp.isEmpty() && v.startsWith("TMPDIR=")))
                continue;
            Values.push_back(v);
        }
        Values.push_back("LC_ALL=C");
        if (!tmp.isEmpty()) Values.push_back("TMPDIR=" + tmp);
        for (QByteArray &v : Values) Pointers.push_back(v.data());
        Pointers.push_back(nullptr);
    }
    char *const *get() { return Pointers.data(); }
    std::vector<QByteArray> Values;
    std::vector<char *> Pointers;
};

bool allDigits(const QByteArray &s) {
    if (s.isEmpty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// ---- Compiling -------------------------------------------------------------------

// A file that the compiler reads: the source or a header beside it, copied
// into the compile's folder under the same path below it.
struct Unit {
    QByteArray Read;       // where its bytes come from
    QByteArray Location;   // its absolute path, "." and ".." resolved by the text
    QByteArray Copy;       // the copy the compiler reads
    QString Text;          // its path as messages name it
    QByteArray Shown;      // that path in Shift-JIS, empty when it can't lead there
    lcc86::PreparedSource Prepared;
};

struct Location {
    bool Found = false;
    QByteArray Path;       // the file the compiler names
    QByteArray Number;     // "LINE" or "eof"
    bool HasColumn = false;
    QByteArray Rest;       // " kind: text"
};

// "PATH:LINE[.COL]: " or "PATH:eof: " at the start of a line of the compiler,
// PATH being the longest one that `known` accepts; or the shape of the
// compiler's expression reader, "\"PATH\", line LINE: text", whose text is an
// error.
Location parseLocation(const QByteArray &line, const std::function<bool(const QByteArray &)> &known) {
    Location loc;
    if (line.startsWith('"')) {
        for (qsizetype q = line.lastIndexOf("\", line "); q > 0; q = line.lastIndexOf("\", line ", q - 1)) {
            const qsizetype colon = line.indexOf(':', q + 8);
            const QByteArray number = colon < 0 ? QByteArray() : line.mid(q + 8, colon - q - 8);
            const QByteArray path = line.mid(1, q - 1);
            if (colon < 0 || !allDigits(number) || !line.mid(colon + 1).startsWith(' ') || !known(path)) continue;
            loc.Found = true;
            loc.Path = path;
            loc.Number = number;
            loc.HasColumn = true;  // its own line, as it names it
            loc.Rest = " error:" + line.mid(colon + 1);
            return loc;
        }
    }
    for (qsizetype c = line.lastIndexOf(':'); c > 0; c = line.lastIndexOf(':', c - 1)) {
        const qsizetype end = line.indexOf(':', c + 1);
        if (end < 0 || !line.mid(end + 1).startsWith(' ')) continue;
        const QByteArray field = line.mid(c + 1, end - c - 1);
        const qsizetype dot = field.indexOf('.');
        const QByteArray number = dot < 0 ? field : field.left(dot);
        if (field != "eof" && (!allDigits(number) || (dot >= 0 && !allDigits(field.mid(dot + 1))))) continue;
        const QByteArray path = line.left(c);
        if (!known(path)) continue;
        loc.Found = true;
        loc.Path = path;
        loc.Number = number;
        loc.HasColumn = dot >= 0;
        loc.Rest = line.mid(end + 1);
        return loc;
    }
    return loc;
}

class Compiler {
public:
    Compiler(const QByteArray &bcc, const QByteArray &tmp, const sigset_t &waitMask)
        : Bcc(bcc), Tmp(tmp), Root(tmp + "/src"), WaitMask(waitMask) {}

    int Run(const QByteArray &file, const QString &text, bool optimise, bool shiftJis, bool warnings) {
        Warnings = warnings;
        QByteArray bytes;
        if (!readFile(file, &bytes)) {
            say(stdout, QStringLiteral("lcc86.exe: ファイル %1 を開けません").arg(text));
            return 1;
        }
        Unit source;
        source.Read = file;
        source.Location = absolute(file);
        // The compiler takes only a name ending in ".c" for C.
        QByteArray name = baseName(source.Location);
        if (!name.endsWith(".c")) {
            const qsizetype dot = name.lastIndexOf('.');
            name = (dot > 0 ? name.left(dot) : name) + ".c";
        }
        source.Copy = cleaned(Root + joined(dirName(source.Location), name));
        source.Text = text;
        source.Shown = navigablePath(text);
        source.Prepared = lcc86::PrepareSource(bytes, shiftJis);
        Units.push_back(source);
        CopyHeaders(shiftJis);

        bool unclosed = false;
        for (const Unit &u : Units) {
            if (u.Prepared.UnclosedCommentLine == 0) continue;
            Message(u, QByteArray::number(u.Prepared.UnclosedCommentLine),
                    " error: " + sjis::encodeLossy(QStringLiteral("コメント /* が閉じていません")));
            unclosed = true;
        }
        for (const Unit &u : Units) {
            if (makeDirectories(dirName(u.Copy)) && writeFile(u.Copy, u.Prepared.Text)) continue;
            say(stdout, QStringLiteral("lcc86.exe: 作業用のファイルを書き込めません (%1)")
                            .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        if (unclosed) return 1;  // the compiler's preprocessor would never end

        // Compiled to assembly first: the compiler writes each of its warnings
        // into the assembly as a line that stops the assembler.
        Environment env(Tmp + "/tmp");
        if (!makeDirectories(Tmp + "/tmp")) return CantStart(errno);
        const QByteArray assembly = Tmp + "/out.s";
        // The C library's headers take "const" and "volatile" away: so does every source.
        QList<QByteArray> args = {"bcc", "-ansi", "-Md", "-Dconst=", "-Dvolatile="};
        if (optimise) args << "-O";
        args << "-S" << argumentFor(baseName(source.Copy)) << "-o" << assembly;
        CopyDir = dirName(source.Copy);
        const ToolRun compile = runTool(Bcc, args, CopyDir, env.get(), WaitMask,
                                        [this](const QByteArray &l) { CompilerLine(l); }, [this] { removeTree(Tmp); });
        if (compile.Status < 0) return CantStart(compile.Error);
        if (compile.Status != 0) return compile.Status;

        QByteArray code;
        if (!readFile(assembly, &code)) return CantStart(errno);
        QList<QByteArray> kept;
        for (const QByteArray &l : code.split('\n'))
            if (!(l.startsWith("fail!") && l.contains(": warning: "))) kept << l;
        if (!writeFile(assembly, kept.join('\n'))) return CantStart(errno);

        // Assembled by the assembler beside bcc, with the options bcc gives it
        // (bcc itself, where there is none, at the cost of one more start).
        const QByteArray objectCopy = Tmp + "/out.obj";
        const QByteArray as86 = joined(dirName(Bcc), "as86");
        QByteArray assembler = Bcc;
        if (::access(as86.constData(), X_OK) == 0) {
            assembler = as86;
            args = {"as86", assembly, "-o", objectCopy, "-u"};
            if (optimise) args << "-O";
            args << "-w" << "-0" << "-n" << baseName(source.Copy).chopped(1) + 's';
        } else {
            args = {"bcc", "-Md"};
            if (optimise) args << "-O";
            args << "-c" << assembly << "-o" << objectCopy;
        }
        const ToolRun assemble = runTool(assembler, args, QByteArray(), env.get(), WaitMask,
                                         [](const QByteArray &l) { writeLine(stdout, "  " + plainLine(l)); },
                                         [this] { removeTree(Tmp); });
        if (assemble.Status < 0) return CantStart(assemble.Error);
        if (assemble.Status != 0) return assemble.Status;

        // The object beside the source on disk. Byte for byte: in a UTF-8 name
        // no byte of a multi-byte character is ".", "/", "\\" or ":", so this
        // is the IDE's ObjectPath of the name it holds.
        const QByteArray object = buildcmd::ObjectPath(QString::fromLatin1(file)).toLatin1();
        QByteArray objectBytes;
        if (!readFile(objectCopy, &objectBytes)) return CantStart(errno);
        if (!writeFile(object, objectBytes)) {
            const int e = errno;
            ::unlink(object.constData());
            say(stdout, QStringLiteral("lcc86.exe: オブジェクトファイル %1 を書き込めません (%2)")
                            .arg(fileText(object), QString::fromLocal8Bit(std::strerror(e))));
            return 1;
        }
        return 0;
    }

private:
    int CantStart(int error) {
        say(stdout, QStringLiteral("lcc86.exe: コンパイラ bcc を実行できません (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
        return 1;
    }

    // The headers that the files include by a quoted name and that stand
    // beside them, copied as the source is.
    void CopyHeaders(bool shiftJis) {
        for (size_t u = 0; u < Units.size() && Units.size() < 4096; ++u) {
            const QList<lcc86::Include> includes = Units[u].Prepared.Includes;
            // Names are put right from the last one on, so that the places
            // noted for the others stay where they are.
            for (qsizetype i = includes.size() - 1; i >= 0; --i) {
                const lcc86::Include &inc = includes.at(i);
                if (!inc.Quoted || inc.Name.isEmpty() || inc.Name.startsWith('/')) continue;
                QByteArray name = inc.Name;
                QString nameText = fileText(name);
                if (!isRegularFile(joined(dirName(Units[u].Read), name))) {
                    // A name written in Shift-JIS for a file the disk names otherwise.
                    nameText = sjis::decode(name);
                    name = QFile::encodeName(nameText);
                    if (!isRegularFile(joined(dirName(Units[u].Read), name))) continue;
                    Units[u].Prepared.Text.replace(inc.NameAt, inc.Name.size(), name);
                }
                const QByteArray location = cleaned(joined(dirName(Units[u].Location), name));
                bool known = false;
                for (const Unit &other : Units) known = known || other.Location == location;
                if (known) continue;
                Unit header;
                header.Read = joined(dirName(Units[u].Read), name);
                header.Location = location;
                header.Copy = cleaned(Root + location);
                // Named from the path of the file that includes it.
                const qsizetype slash = Units[u].Text.lastIndexOf(u'/');
                header.Text = QDir::cleanPath(slash < 0 ? nameText : Units[u].Text.left(slash + 1) + nameText);
                header.Shown = navigablePath(header.Text);
                QByteArray bytes;
                if (!readFile(header.Read, &bytes)) continue;
                header.Prepared = lcc86::PrepareSource(bytes, shiftJis);
                Units.push_back(header);
            }
        }
    }

    const Unit *UnitAt(const QByteArray &path) const {
        const QByteArray copy = cleaned(path.startsWith('/') ? path : joined(CopyDir, path));
        for (const Unit &u : Units)
            if (u.Copy == copy) return &u;
        return nullptr;
    }

    void Message(const Unit &u, const QByteArray &number, const QByteArray &rest) {
        if (!u.Shown.isEmpty()) writeLine(stdout, u.Shown + ' ' + number + ':' + rest);
        else writeLine(stdout, "  " + sjis::encodeLossy(u.Text) + ' ' + number + ':' + rest);
    }

    // One line of the compiler's first pass.
    void CompilerLine(const QByteArray &line) {
        if (line.isEmpty()) return;
        const Location loc = parseLocation(line, [this](const QByteArray &path) {
            return UnitAt(path) || isRegularFile(path.startsWith('/') ? path : joined(CopyDir, path));
        });
        if (!loc.Found) {
            writeLine(stdout, "  " + plainLine(line));
            return;
        }
        if (!Warnings && loc.Rest.startsWith(" warning:")) return;
        const Unit *u = UnitAt(loc.Path);
        if (!u) {  // a header of the tool chain's own
            const QByteArray shown = navigablePath(fileText(loc.Path));
            const QByteArray number = loc.Number == "eof" ? QByteArray("1") : loc.Number;
            writeLine(stdout, (shown.isEmpty() ? "  " + plainLine(loc.Path) : shown) + ' ' + number + ':' + loc.Rest);
            return;
        }
        int number = loc.Number == "eof" ? u->Prepared.LineCount : loc.Number.toInt();
        if (!loc.HasColumn && loc.Number != "eof") {
            const qsizetype kind = loc.Rest.indexOf(": ");
            number = lcc86::DirectiveMessageLine(u->Prepared, number, kind < 0 ? QByteArray() : loc.Rest.mid(kind + 2));
        }
        Message(*u, QByteArray::number(number), loc.Rest);
    }

    const QByteArray Bcc, Tmp, Root;
    const sigset_t &WaitMask;
    std::vector<Unit> Units;
    QByteArray CopyDir;
    bool Warnings = false;
};

// ---- Linking ---------------------------------------------------------------------

int Link(const QByteArray &bcc, const QByteArray &programArg, const QList<QByteArray> &objectArgs,
         const sigset_t &waitMask) {
    QString programText;
    const QByteArray program = findName(programArg, true, &programText);
    QList<QByteArray> objects;
    bool ok = true;
    for (const QByteArray &arg : objectArgs) {
        QString text;
        const QByteArray object = findName(arg, false, &text);
        QByteArray head;
        if (!isRegularFile(object)) {
            say(stdout, QStringLiteral("lcc86.exe: ファイル %1 を開けません").arg(text));
            ok = false;
        } else if (!readFile(object, &head) || !head.startsWith("\xa3\x86")) {
            say(stdout, QStringLiteral("lcc86.exe: %1 は 8086 のオブジェクトファイルではありません。"
                                       "リビルドしてください。")
                            .arg(text));
            ok = false;
        }
        objects << argumentFor(object);
    }
    if (!ok) return 1;

    // Linked beside the program under a name of its own, then put in place.
    QByteArray temp = joined(dirName(program), ".lcc86-XXXXXX.com");
    const int fd = ::mkstemps(temp.data(), 4);
    if (fd < 0) {
        say(stdout, QStringLiteral("lcc86.exe: プログラム %1 を書き込めません (%2)")
                        .arg(programText, QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    ::close(fd);
    Environment env{QByteArray()};
    bool noMain = false;
    const ToolRun link = runTool(
        bcc, QList<QByteArray>{"bcc", "-Md", "-o", argumentFor(temp)} + objects, QByteArray(), env.get(), waitMask,
        [&noMain](const QByteArray &l) {
            if (l.trimmed() == "undefined symbol: _main") noMain = true;
            writeLine(stdout, "  " + plainLine(l));
        },
        [&temp] { ::unlink(temp.constData()); });
    struct stat st;
    if (link.Status == 0 && ::stat(temp.constData(), &st) == 0 && st.st_size > 0) {
        if (::rename(temp.constData(), program.constData()) == 0) return 0;
        const int e = errno;
        ::unlink(temp.constData());
        say(stdout, QStringLiteral("lcc86.exe: プログラム %1 を書き込めません (%2)")
                        .arg(programText, QString::fromLocal8Bit(std::strerror(e))));
        return 1;
    }
    ::unlink(temp.constData());
    if (link.Status < 0) {
        say(stdout, QStringLiteral("lcc86.exe: リンカ bcc を実行できません (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(link.Error))));
        return 1;
    }
    if (noMain) say(stdout, QStringLiteral("lcc86.exe: 関数 main がありません。プログラムには main 関数が必要です。"));
    return link.Status == 0 ? 1 : link.Status;
}

}  // namespace

int main(int argc, char **argv) {
    bool optimise = false, shiftJis = false, warnings = false, compileOption = false, link = false;
    QByteArray program;
    QList<QByteArray> inputs;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-o") {
            if (link || i + 1 >= argc || !*argv[i + 1]) return usage();
            link = true;
            program = argv[++i];
        } else if (a == "-O" || a == "-js" || a == "-w1" || a == "-c") {
            compileOption = true;
            optimise |= a == "-O";
            shiftJis |= a == "-js";
            warnings |= a == "-w1";
        } else if (a.startsWith('-') || a.isEmpty()) {
            return usage();
        } else {
            inputs << a;
        }
    }
    if (link ? (compileOption || inputs.isEmpty()) : inputs.size() != 1) return usage();

    // Stop signals wait until the tool chain runs; then they end it.
    sigset_t stops, waitMask;
    sigemptyset(&stops);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, sig);
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        ::sigaction(sig, &sa, nullptr);
    }
    ::sigprocmask(SIG_BLOCK, &stops, &waitMask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigdelset(&waitMask, sig);

    const QByteArray bcc = FindProgram("bcc");
    if (link) {
        if (bcc.isEmpty()) return toolChainMissing();
        return Link(bcc, program, inputs, waitMask);
    }

    QString text;
    const QByteArray file = findName(inputs.first(), false, &text);
    if (!isRegularFile(file)) {
        say(stdout, QStringLiteral("lcc86.exe: ファイル %1 を開けません").arg(text));
        return 1;
    }
    if (bcc.isEmpty()) return toolChainMissing();
    const QByteArray tmpBase = qEnvironmentVariableIsEmpty("TMPDIR") ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray tmp = joined(tmpBase, "lcc86-XXXXXX");
    if (!::mkdtemp(tmp.data())) {
        say(stdout, QStringLiteral("lcc86.exe: 作業フォルダを作れません (%1)")
                        .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return 1;
    }
    tmp = absolute(tmp);
    Compiler compiler(bcc, tmp, waitMask);
    const int status = compiler.Run(file, text, optimise, shiftJis, warnings);
    removeTree(tmp);
    return status;
}
