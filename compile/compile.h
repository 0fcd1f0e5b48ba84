#pragma once
// The Compile command's logic, apart from the windows that show it:
// the object path of a source, packed file dates and the up-to-date test,
// the texts of the Output pane's own rows, and the two fields of a compiler
// message that a double-click on an Output row navigates by.
//
// Compiler messages. A row "FILE LINE: text" names the file FILE (everything
// before the row's first blank) and the line LINE (from that blank up to the
// first ":" after it). A path that itself holds a blank is cut short by that
// rule; such a row is read once more with the longest part of it, ending
// before a blank, that is the path of an open document (FindMessageFile), or,
// for the list of a compile's messages, of a file (ParseMessage). lcc86.exe
// prints the messages of every file whose path can be written in Shift-JIS in
// that shape, blanks or not; its other lines begin with two blanks, so that
// their file field is empty and matches no document.

#include "pathext.h"
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace buildcmd {

using ::PathExtension;

// The source path with its extension replaced by ".obj", or with ".obj"
// appended when it has none; the text before the extension is unchanged.
QString ObjectPath(const QString &source);

// A local time packed as a DOS date-time: bits 31-25 year-1980, 24-21 month,
// 20-16 day, 15-11 hour, 10-5 minute, 4-0 seconds/2, read as a signed 32-bit
// value (years from 2044 on come out negative). -1 for an invalid time or a
// year outside 1980..2107, which the packed form cannot hold.
qint32 PackDosDate(const QDateTime &localTime);

// The packed last-write time of a file, in local time; -1 when it can't be
// opened for reading (missing, a dangling link, no permission), is no regular
// file (a directory, a pipe, a device) or its time can't be read or packed.
// -1 is older than every packed date.
qint32 FileDate(const QString &path);

// True when path names an existing regular file (links followed) whose
// last-write time can be packed. The file is not opened.
bool FileExists(const QString &path);

// The up-to-date test of source S: true when its object file is missing, when
// S is newer than the object, or when one of the project's files whose
// extension is ".h" (any letter case) is newer than S itself. projectFiles are
// the paths of the project's file nodes (project::FilePaths), empty when there
// is no project. Dates are compared as signed 32-bit packed values; a header
// that can't be read never forces a compile.
bool NeedsCompile(const QString &S, const QStringList &projectFiles);

// "lcc86.exe -O -js -w1 -c " followed by ShortPath(S), as one word of the
// runner's splitting rules: bare, or quoted by QuoteArgument (cmdquote.h) when
// it holds a blank, a tab or a double quote, so that the split gives back
// exactly the path. The untitled document's empty S gives the single blank of
// ShortPath, unquoted: the compiler is run without a source.
QString CompilerCommandLine(const QString &S);

// The Output pane's own rows.
QString StartLine(const QString &S);      // "- " + S + "のコンパイルを開始します…"
QString NotNeededLine(const QString &S);  // "* " + S + "のコンパイルは必要ありません。"
QString EchoLine(const QString &cmd);     // "> " + cmd
extern const QString StartFailedLine;     // "* コンパイラの起動に失敗しました。"
extern const QString EndLine;             // "- コンパイル終了。"
extern const QString StoppedLine;         // "* コンパイルを中止しました。"
// What no quoting can carry: a line feed or carriage return (the command line
// and its echo row are one line) and a NUL (the runner ends the line there).
// CharacterInTheWay gives the first such character of ShortPath(S), or an
// empty text when the path comes through (and for the untitled document's
// empty path). Such a source is not compiled: PathRefusedLine says why, naming
// that character ("* 改行を含むパスのファイルはコンパイルできません。").
QString CharacterInTheWay(const QString &S);
QString PathRefusedLine(const QString &inTheWay);

// ---- Linking -------------------------------------------------------------------
// Build and Rebuild link the project's objects into one MS-DOS program once
// every source has compiled (or was up to date).

// The program of a project: named after the project (its name with "/", "\\",
// ":" and control characters as "_"; without a name, the project file's name
// without its extension; "noname" when nothing is left) with ".com", in the
// project file's folder, or, for a project not yet saved, in the folder of its
// first source.
QString ProgramPath(const QString &projectFile, const QString &projectName, const QStringList &sources);

// "lcc86.exe -o " followed by ShortPath(program) and ShortPath of each object,
// in their order, each one word as in CompilerCommandLine.
QString LinkerCommandLine(const QString &program, const QStringList &objects);

// True when the program is missing, or one of the objects or the project file
// is not older than it (times to the nanosecond: a link right after the
// compiles is newer than their objects). A missing object forces the link
// too, so that the linker names it.
bool NeedsLink(const QString &program, const QStringList &objects, const QString &projectFile);

// The link's rows.
QString LinkStartLine(const QString &program);      // "- " + P + "のリンクを開始します…"
QString LinkNotNeededLine(const QString &program);  // "* " + P + "のリンクは必要ありません。"
QString LinkFailedLine(const QString &program);     // "* " + P + "を作成できませんでした。"
extern const QString LinkEndLine;                   // "- リンク終了。"
extern const QString LinkStoppedLine;               // "* リンクを中止しました。"
extern const QString NotLinkedLine;                 // "* コンパイルできなかったファイルがあるため、リンクしません。"
extern const QString LinkerStartFailedLine;         // "* リンカの起動に失敗しました。"

// The file field of an Output row: the text before its first blank, or a
// single blank (matching no document) when the row holds no blank.
QString MessageFileName(const QString &row);

// The line field of an Output row read as an integer: the text from the first
// blank (included) up to the first ":" after it, the row's last character
// never examined. 0 when there is no blank or no such ":". Throws EQvError
// "'FIELD' は整数ではありません" when the field is no number.
int MessageLineNumber(const QString &row);

// True for a row that a double-click ignores: the pane's own rows (first
// character "*", "-" or ">") and the empty row.
bool IsOwnRow(const QString &row);

// The line field that follows a file field ending at the blank at `blank`:
// from that blank (included) up to the first ":" after it, the row's last
// character never examined, read by StrToInt (which may throw as
// MessageLineNumber does). 0 when blank is -1 or there is no such ":".
int MessageLineNumberAt(const QString &row, qsizetype blank);

// The open document that a row leads to. `fileNames` are the documents'
// FileName, most recently activated first (empty for an untitled one). The
// row's file field (MessageFileName) is compared with ShortPath of each, in
// that order; when none is equal, the longest prefix of the row that ends
// right before a blank and equals the path of a titled document is taken.
// Index is the document's place in fileNames (the first of equal paths), -1
// when the row leads nowhere; Blank is where the file field ends (-1 for a
// row without a blank), so that its line is MessageLineNumberAt(row, Blank).
// A row of the pane's own (IsOwnRow) leads nowhere.
struct TMessageFile {
    int Index = -1;
    qsizetype Blank = -1;
};
TMessageFile FindMessageFile(const QString &row, const QStringList &fileNames);

// A compiler message, as the list of a compile's messages holds it.
struct TCompilerMessage {
    QString File;          // the file the row names, as the row writes it
    int Line = 0;          // 1-based
    bool Warning = false;  // else an error
    QString Text;          // what follows "LINE:", its leading blanks dropped
    bool operator==(const TCompilerMessage &o) const {
        return File == o.File && Line == o.Line && Warning == o.Warning && Text == o.Text;
    }
};

// A row in the navigable shape: a file field that isFile accepts, a blank and
// a line field that StrToInt reads as a number of at least 1 followed by ":"
// (not the row's last character). The file field is the row's first
// (MessageFileName) when that fits; otherwise the longest prefix ending right
// before a blank that fits. A message whose text begins with "warning" (any
// letter case) or "警告" is a warning, any other an error. False for the pane's
// own rows and every other row; *message is then unchanged.
bool ParseMessage(const QString &row, const std::function<bool(const QString &)> &isFile,
                  TCompilerMessage *message);

// The strict text-to-integer conversion: leading blanks skipped, an optional
// sign, the decimal digits of a signed 32-bit number, and nothing after (a
// trailing blank fails). Throws EQvError "'TEXT' は整数ではありません".
int StrToInt(const QString &text);

}  // namespace buildcmd
