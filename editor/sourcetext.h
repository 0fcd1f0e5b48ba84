#pragma once
// A source file's bytes and the text of an editor document, losslessly.
//
// The bytes are Shift-JIS; each line keeps its own line end (CR LF, LF or a
// lone CR), kept as the user state of its block; a missing final line break is
// an end with no empty last line. Bytes that are no valid Shift-JIS survive as
// escaped bytes (see sjis.h).

#include <QByteArray>
#include <QString>
#include <vector>

class QTextDocument;

namespace sourcetext {

enum LineEnd : unsigned char { CrLf = 0, Lf = 1, Cr = 2 };

struct Decoded {
    QString Text;                 // lines with their line ends as in the file
    std::vector<LineEnd> Ends;    // the line end of each line but the last
    LineEnd Common = CrLf;        // the most common line end; CR LF when there is none
};

Decoded Decode(const QByteArray &bytes);

// Gives every block but the last its line end, in order (Ends from Decode).
void SetLineEnds(QTextDocument *doc, const std::vector<LineEnd> &ends);

// The document's bytes: each block's text, then its own line end (fallback for
// a block that has none, such as a newly typed line). On a character that
// Shift-JIS cannot hold returns false and sets error to a message naming the
// character and its line.
bool Encode(const QTextDocument *doc, LineEnd fallback, QByteArray &out, QString *error);

}  // namespace sourcetext
