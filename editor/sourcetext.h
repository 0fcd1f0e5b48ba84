#pragma once
// A source file's bytes and the text of an editor document, losslessly.
//
// The bytes are Shift-JIS; each line keeps its own line end (CR LF, LF or a
// lone CR), which the text store keeps with the line break; a missing final
// line break is an end with no empty last line. Bytes that are no valid
// Shift-JIS survive as escaped bytes (see sjis.h).
//
// A character with more than one code keeps the code its file used: the file's
// choice (sjis::chooseCodes) goes with the document from load to save. Where one
// file uses two codes for the same character, the one used most often is the
// document's code for it, and each use of another code is kept by the text
// store beside its character; a character typed takes the document's code, and
// one the file did not hold its usual code.

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

#include "sjis.h"
#include "textstore.h"

namespace sourcetext {

using LineEnd = textstore::LineEnd;
using textstore::CrLf;
using textstore::Lf;
using textstore::Cr;

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

// The characters that the text of `bytes` takes in the store: each decoded
// character one, each line break two (CR LF, LF and CR alike). Exact; bytes
// that are not all ASCII are decoded a piece at a time to count them.
qint64 TextLength(QByteArrayView bytes);

// Throws EQvError, with a message that names the file and the limit, for a
// text of `characters` characters, more than the store holds.
void CheckLength(const QString &path, qint64 characters);
// The same for the text of `bytes`, counted closely only where a file that
// large could be too long.
void CheckLength(const QString &path, QByteArrayView bytes);

// Puts the file's text into the store, a piece at a time, with each line's
// line end, and gives the store the file's codes. Returns the most common line
// end (CR LF when there is none; ties go to CR LF, then LF).
LineEnd Load(TTextStore *store, const QByteArray &bytes);

// The codes that the store's file chose (empty for a text never loaded).
sjis::CodeChoice Codes(const TTextStore *store);

// The text and line ends at one moment, with the file's codes: a copy that
// costs next to nothing, so that its bytes can be made on another thread.
struct Snapshot {
    textstore::TText Text;
    sjis::CodeChoice Codes;
    LineEnd Fallback = CrLf;  // for a line break that has no line end of its own (a typed one)
};
Snapshot Take(const TTextStore *store, LineEnd fallback);

// The bytes: each line's text, then its own line end (fallback for a break
// that has none), with the file's codes. On a character that Shift-JIS cannot
// hold, or on an invalid byte kept from the file that would now pair up with
// the text beside it (and so read back as another character), returns false
// and sets error to a message naming the character or byte and its line.
bool Encode(const Snapshot &snapshot, QByteArray &out, QString *error);
bool Encode(const TTextStore *store, LineEnd fallback, QByteArray &out, QString *error);

// The same bytes a block at a time, each handed to write as soon as it is
// made (blocks of at least `block` bytes but the last, each of whole pieces
// of the text): for a writer that writes them while the rest is made. False
// when write refuses a block, and when the bytes cannot be made this way (a
// character Shift-JIS cannot hold, or an escaped byte kept from the file):
// Encode then makes them, or names what cannot be written.
bool EncodeBlocks(const Snapshot &snapshot, qsizetype block, const std::function<bool(QByteArrayView)> &write);

}  // namespace sourcetext
