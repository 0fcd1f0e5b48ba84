#include "sourceprep.h"

#include "sjisbyte.h"

namespace lcc86 {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

bool IsIdentifierByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

class Scanner {
public:
    Scanner(const QByteArray &in, bool shiftJis) : In(in), ShiftJis(shiftJis) {
        Out.Text.reserve(in.size() + in.size() / 16);
    }

    PreparedSource Run() {
        Out.DirectiveLines.append(false);
        while (I < In.size()) {
            switch (State) {
            case Code: CodeByte(); break;
            case BlockComment: BlockCommentByte(); break;
            case LineComment: LineCommentByte(); break;
            case String:
            case Character: LiteralByte(); break;
            }
        }
        if (State == BlockComment) Out.UnclosedCommentLine = CommentLine;
        Out.LineCount = Line;
        return Out;
    }

private:
    enum { Code, BlockComment, LineComment, String, Character } State = Code;

    // A line break at I (LF, or CR LF): written as one LF. False when there is none.
    bool LineBreak() {
        qsizetype n = 0;
        if (In[I] == '\n') n = 1;
        else if (In[I] == '\r' && I + 1 < In.size() && In[I + 1] == '\n') n = 2;
        if (n == 0) return false;
        I += n;
        Out.Text += '\n';
        // The text after the last LF is a line only when it holds something.
        if (I < In.size()) NewLine();
        return true;
    }

    void NewLine() {
        ++Line;
        const bool continued = Continued;
        Out.DirectiveLines.append(continued && InDirective);
        if (!continued) InDirective = false;
        Continued = false;
        LineStart = !continued;
    }

    // A backslash with a line break right after it: both copied, the line goes on.
    bool Splice() {
        if (In[I] != '\\' || I + 1 >= In.size()) return false;
        const char next = In[I + 1];
        if (next != '\n' && !(next == '\r' && I + 2 < In.size() && In[I + 2] == '\n')) return false;
        Out.Text += '\\';
        ++I;
        Continued = true;
        LineBreak();
        return true;
    }

    bool DoubleByte() const {
        return ShiftJis && I + 1 < In.size() && sjis::IsLeadByte(uchar(In[I])) && sjis::IsTrailByte(uchar(In[I + 1]));
    }

    void Copy(qsizetype n = 1) {
        Out.Text += In.mid(I, n);
        I += n;
    }

    void CodeByte() {
        if (LineBreak() || Splice()) return;
        const char c = In[I];
        if (LineStart && IsBlank(c)) {
            Copy();
            return;
        }
        if (LineStart && c == '#') {
            LineStart = false;
            InDirective = true;
            Out.DirectiveLines.last() = true;
            Copy();
            Directive();
            return;
        }
        LineStart = false;
        if (DoubleByte()) {
            Copy(2);
        } else if (c == '/' && I + 1 < In.size() && In[I + 1] == '*') {
            State = BlockComment;
            CommentLine = Line;
            Copy(2);
        } else if (c == '/' && I + 1 < In.size() && In[I + 1] == '/') {
            State = LineComment;
            Copy(2);
        } else if (c == '"' || c == '\'') {
            State = c == '"' ? String : Character;
            Copy();
        } else {
            Copy();
        }
    }

    // After the "#" of a directive: an include's name is copied and noted as it is.
    void Directive() {
        qsizetype j = I;
        while (j < In.size() && IsBlank(In[j])) ++j;
        qsizetype k = j;
        while (k < In.size() && IsIdentifierByte(In[k])) ++k;
        if (In.mid(j, k - j) != "include") return;
        while (k < In.size() && IsBlank(In[k])) ++k;
        if (k >= In.size() || (In[k] != '"' && In[k] != '<')) return;
        const char close = In[k] == '"' ? '"' : '>';
        qsizetype end = k + 1;
        while (end < In.size() && In[end] != close && In[end] != '\n' && In[end] != '\r') ++end;
        if (end >= In.size() || In[end] != close) return;
        Out.Text += In.mid(I, k + 1 - I);
        Include inc;
        inc.Line = Line;
        inc.Quoted = close == '"';
        inc.Name = In.mid(k + 1, end - k - 1);
        inc.NameAt = Out.Text.size();
        Out.Includes.append(inc);
        Out.Text += In.mid(k + 1, end + 1 - (k + 1));
        I = end + 1;
    }

    void BlockCommentByte() {
        if (LineBreak()) return;
        if (DoubleByte()) {
            Out.Text += "  ";
            I += 2;
        } else if (In[I] == '*' && I + 1 < In.size() && In[I + 1] == '/') {
            State = Code;
            Copy(2);
        } else {
            Copy();
        }
    }

    void LineCommentByte() {
        if (Splice()) return;
        if (LineBreak()) {
            State = Code;
            return;
        }
        if (DoubleByte()) {
            Out.Text += "  ";
            I += 2;
        } else {
            Copy();
        }
    }

    void LiteralByte() {
        if (Splice()) return;
        if (LineBreak()) {  // the literal is left open; the compiler says so
            State = Code;
            return;
        }
        const char c = In[I];
        if (DoubleByte()) {
            Out.Text += In[I];
            if (In[I + 1] == '\\') Out.Text += "\\\\";
            else Out.Text += In[I + 1];
            I += 2;
        } else if (c == '\\') {
            // An escape: the byte after the backslash never closes the literal.
            // A double-byte character after it is left whole for the next step.
            ++I;
            Out.Text += '\\';
            if (!DoubleByte()) Copy();
        } else {
            if ((State == String && c == '"') || (State == Character && c == '\'')) State = Code;
            Copy();
        }
    }

    const QByteArray &In;
    const bool ShiftJis;
    PreparedSource Out;
    qsizetype I = 0;
    int Line = 1;
    int CommentLine = 0;
    bool LineStart = true;    // only blanks so far on this line, outside a directive
    bool InDirective = false;
    bool Continued = false;   // the line break being read follows a backslash
};

}  // namespace

PreparedSource PrepareSource(const QByteArray &source, bool shiftJis) { return Scanner(source, shiftJis).Run(); }

int DirectiveMessageLine(const PreparedSource &source, int line, const QByteArray &message) {
    const auto directive = [&source](int n) {
        return n >= 1 && n <= source.DirectiveLines.size() && source.DirectiveLines.at(n - 1);
    };
    if (line > source.LineCount) return directive(source.LineCount) ? source.LineCount : line;
    if (line < 2 || !directive(line - 1)) return line;
    if (!directive(line)) return line - 1;
    for (const char *toEndOfLine : {"#error", "#warning", "Cannot open include file", "#define redefined macro"})
        if (message.startsWith(toEndOfLine)) return line - 1;
    return line;
}

}  // namespace lcc86
