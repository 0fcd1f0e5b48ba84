#pragma once
// A source file's bytes and the text of an editor document, losslessly.
//
// The bytes are Shift-JIS; each line keeps its own line end (CR LF, LF or a
// lone CR), kept as the user state of its block; a missing final line break is
// an end with no empty last line. Bytes that are no valid Shift-JIS survive as
// escaped bytes (see sjis.h).
//
// A character with more than one code keeps the code its file used: the file's
// choice (sjis::chooseCodes) goes with the document from load to save. Where one
// file uses two codes for the same character, the one used most often is the
// document's code for it and the others stay escaped bytes; a character the file
// did not hold takes its usual code.

#include <QByteArray>
#include <QString>
#include <vector>

#include "sjis.h"

class QTextDocument;

namespace sourcetext {

enum LineEnd : unsigned char { CrLf = 0, Lf = 1, Cr = 2 };

// The line end of each line but the last, and the codes the file chose for
// characters that have more than one: what the document keeps of the file's form.
struct LineEnds : std::vector<LineEnd> {
    sjis::CodeChoice Codes;
};

struct Decoded {
    QString Text;                 // lines with their line ends as in the file
    LineEnds Ends;                // the line end of each line but the last, and the file's codes
    LineEnd Common = CrLf;        // the most common line end; CR LF when there is none
};

Decoded Decode(const QByteArray &bytes);

// Gives every block but the last its line end, in order, and the document the
// file's codes (Ends from Decode).
void SetLineEnds(QTextDocument *doc, const LineEnds &ends);

// The codes that the document's file chose (empty for a document that was
// never loaded).
sjis::CodeChoice Codes(const QTextDocument *doc);

// The document's bytes: each block's text, then its own line end (fallback for
// a block that has none, such as a newly typed line), with the document's codes.
// On a character that Shift-JIS cannot hold, or on an invalid byte kept from the
// file that would now pair up with the text beside it (and so read back as
// another character), returns false and sets error to a message naming the
// character or byte and its line.
bool Encode(const QTextDocument *doc, LineEnd fallback, QByteArray &out, QString *error);

}  // namespace sourcetext

namespace sourcetext {

// The document's text and line ends as they stand, taken in a few tens of
// milliseconds for a large document, so that its bytes can be made on another
// thread: Encode(snapshot) gives the bytes Encode(doc, fallback) gives.
struct Snapshot {
    QString Raw;                 // the blocks' text, each followed by U+2029
    std::vector<LineEnd> Ends;   // the line end after each block but the last
    sjis::CodeChoice Codes;
};
Snapshot Take(const QTextDocument *doc, LineEnd fallback);
// False, with a short reason, where Encode(doc) fails.
bool Encode(const Snapshot &snapshot, QByteArray &out, QString *error);

}  // namespace sourcetext
