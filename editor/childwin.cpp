#include "childwin.h"

#include "safewrite.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>

#include "colourstore.h"
#include "errorreport.h"
#include "sourcetext.h"


namespace {

const QString kUntitled = QStringLiteral("名称未設定");

// The window's 16 x 16 icon: a sheet of paper with lines of text.
QIcon DocumentIcon() {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(Qt::black);
    p.setBrush(Qt::white);
    p.drawRect(2, 0, 11, 15);
    p.setPen(QColor(0, 0, 128));
    for (int y = 3; y < 14; y += 2) p.drawLine(4, y, y % 4 == 1 ? 9 : 11, y);
    return QIcon(pm);
}

}  // namespace

TMDIChild::TMDIChild(QWidget *owner) : QMdiSubWindow(owner) {
    auto *client = new QWidget;
    setupUi(client);
    setWidget(client);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(DocumentIcon());
    resize(429, 215);

    // Fonts: "System" 13 px on the window, "Terminal" 13 px on the text control
    // (the names stay in the layout; fontconfig picks what is installed).
    QFont windowFont = client->font();
    windowFont.setPixelSize(13);
    setFont(windowFont);
    client->setFont(windowFont);
    QFont textFont = RichEdit1->font();
    textFont.setPixelSize(13);
    RichEdit1->setFont(textFont);

    // Black text; the selection stays visible when the control loses the focus.
    QPalette pal = RichEdit1->palette();
    pal.setColor(QPalette::Text, colouring::Black());
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    RichEdit1->setPalette(pal);
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    RichEdit1->installEventFilter(this);

    SetCaption(kUntitled);
    FileName.clear();
    Loading = true;
    Changed = false;
    RichEdit1->clear();
    Loading = false;

    // The change event: edits of the text only, reported by the colour store
    // after it has moved the colours along (layout changes such as a preedit
    // are no edits).
    connect(RichEdit1->Colours(), &TColourStore::TextChanged, this,
            [this](int, int, int) { RichEdit1Change(); });
    connect(RichEdit1, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        // The standard menu, with Undo and Redo run like their keys.
        std::unique_ptr<QMenu> menu(RichEdit1->createStandardContextMenu());
        for (QAction *a : menu->actions()) {
            if (a->objectName() == QLatin1String("edit-undo")) {
                disconnect(a, &QAction::triggered, nullptr, nullptr);
                connect(a, &QAction::triggered, this, &TMDIChild::Undo);
            } else if (a->objectName() == QLatin1String("edit-redo")) {
                disconnect(a, &QAction::triggered, nullptr, nullptr);
                connect(a, &QAction::triggered, this, &TMDIChild::Redo);
            }
        }
        menu->exec(RichEdit1->viewport()->mapToGlobal(pos));
    });
}

TMDIChild::~TMDIChild() = default;

void TMDIChild::SetCaption(const QString &caption) {
    setWindowTitle(caption);
    // A screen reader names the text by its document.
    QString name = caption;
    if (name.endsWith(QLatin1Char('*'))) name.chop(1);
    RichEdit1->setAccessibleName(name);
}

bool TMDIChild::IsUntitled() const { return FileName.isEmpty(); }

void TMDIChild::LoadFile(const QString &path) {
    // Read everything first: a file that cannot be read leaves the document as it
    // was. Only a regular file is read, and no further than its size when opened.
    // A file whose text the store could never hold is refused unread (no
    // two bytes make fewer than one character).
    // The file's state before it is read: a change made while it is read
    // shows as one afterwards.
    TDiskState disk = TDiskState::Of(path);
    sourcetext::CheckLength(path, QFileInfo(path).size() / 2);
    QByteArray bytes = ReadWholeFile(path);
    disk.Summed = true;
    disk.Sum = TDiskState::Checksum(bytes);
    LoadBytes(std::move(bytes), path);
    Disk = disk;
}

void TMDIChild::LoadBytes(QByteArray bytes, const QString &path, bool changed) {
    Loading = true;
    // However the load ends, edits count again.
    struct Finish {
        TMDIChild *Window;
        ~Finish() { Window->Loading = false; }
    } finish{this};
    // The store takes the new text only once all of it is decoded: bytes that
    // cannot be taken leave the document as it was.
    sourcetext::CheckLength(path.isEmpty() ? windowTitle() : path, bytes);
    DefaultLineEnd = sourcetext::Load(RichEdit1->Text(), bytes);
    bytes = QByteArray();
    // The whole text's colours: those on the screen at once, the rest while
    // the program is idle or as they are asked for.
    RichEdit1->Colours()->ColourLater();
    SetSelection(RichEdit1, 0, 0);
    // The document claims the path only now that it holds its text.
    FileName = path;
    SetCaption((path.isEmpty() ? kUntitled : ShortName(path)) + (changed ? QStringLiteral("*") : QString()));
    RichEdit1->setFocus();
    RichEdit1->setModified(changed);
    Changed = changed;
}

void TMDIChild::WriteTo(const QString &path) {
    // The bytes are written while they are made, a block at a time, so that
    // the disk takes the first ones while the rest are made and the whole file
    // is never held twice. A text that cannot be made that way (an escaped
    // byte kept from the file, a character that Shift-JIS cannot hold) is made
    // whole first, which also names what cannot be written.
    const sourcetext::Snapshot snapshot = sourcetext::Take(RichEdit1->Text(), DefaultLineEnd);
    TDiskState::TSum sum;
    const bool written = WriteWholeFile(path, [&](const TByteSink &write) {
        return sourcetext::EncodeBlocks(snapshot, qsizetype(1) << 20, [&](QByteArrayView block) {
            sum.Add(block);
            return write(block);
        });
    });
    if (written) {
        // What this document wrote is no change made elsewhere.
        Disk = TDiskState::Of(path, sum.Result());
        return;
    }
    QByteArray bytes;
    QString why;
    if (!sourcetext::Encode(RichEdit1->Text(), DefaultLineEnd, bytes, &why))
        throw EQvError(QStringLiteral("ファイル %1 を保存できません: %2").arg(path, why));
    WriteWholeFile(path, bytes);
    // What this document wrote is no change made elsewhere.
    Disk = TDiskState::Of(path, &bytes);
}

void TMDIChild::Save() {
    // An untitled document has nowhere to go: nothing is written and it stays changed.
    if (FileName.isEmpty()) return;
    if (BeforeSave && !BeforeSave(*this)) return;
    WriteTo(FileName);
    SetCaption(ShortName(FileName));
    RichEdit1->setModified(false);
    Changed = false;
}

void TMDIChild::SaveAs(const QString &path) {
    if (path.isEmpty()) throw EQvError::CannotCreate(path);
    // The document takes the new path only once the file is written: a failed
    // Save As leaves it exactly as it was.
    WriteTo(path);
    FileName = path;
    SetCaption(ShortName(path));
    RichEdit1->setModified(false);
    Changed = false;
}

void TMDIChild::Reload() {
    TRichEdit *edit = RichEdit1;
    const TTextStore *text = edit->Text();
    const int caret = edit->Caret();
    const int line = text->LineOf(caret), column = caret - text->LineStart(line);
    // The load gives the text the focus: a document read again behind another
    // one, or while the focus is elsewhere, takes nothing from it (a disabled
    // control takes no focus).
    struct Behind {
        TRichEdit *Edit;
        bool Was;
        ~Behind() {
            if (Was) Edit->setEnabled(true);
        }
    } behind{edit, !edit->hasFocus() && edit->isEnabled()};
    if (behind.Was) edit->setEnabled(false);
    LoadFile(FileName);
    const int n = std::min(line, text->LineCount() - 1);
    const int at = text->LineStart(n) + std::min(column, text->LineLength(n));
    edit->SetSelection(at, at);
}

void TMDIChild::MarkUnsaved() {
    RichEdit1->setModified(true);
    if (Changed) return;
    Changed = true;
    SetCaption(windowTitle() + QLatin1Char('*'));
}

void TMDIChild::RichEdit1Change() {
    if (Loading) return;
    if (!Changed) {
        SetCaption(windowTitle() + QLatin1Char('*'));
        Changed = true;
    }
    ColourCaretLine();
}

void TMDIChild::ColourCaretLine() {
    // The caret's line: from the LF before it (or the start) to its CR (or the end).
    const TTextStore *text = RichEdit1->Text();
    const int length = text->Length();
    if (length == 0) return;
    int first = 0, last = 0;
    colouring::LineRange(*text, text->LineOf(SelStart(RichEdit1)), first, last);
    ColourRange(RichEdit1, first, last);
}

void TMDIChild::Undo() { UndoOrRedo(false); }

void TMDIChild::Redo() { UndoOrRedo(true); }

void TMDIChild::UndoOrRedo(bool redo) {
    if (!(redo ? RichEdit1->isRedoAvailable() : RichEdit1->isUndoAvailable())) return;
    // The step is heard of once its lines have their colours.
    const TRichEdit::THold hold(RichEdit1);
    TTextStore *text = RichEdit1->Text();
    TColourStore *store = RichEdit1->Colours();
    std::vector<std::pair<int, int>> changed;  // ranges of the text the step put back
    const QMetaObject::Connection watch = connect(text, &TTextStore::Edited, this, [&](const TEditList &edits) {
        // The span from the first edit to the end of the last, as it now stands
        // (empty where the step only took text away).
        int delta = 0;
        for (const TEdit &e : edits) delta += e.Added - e.Removed;
        const TEdit &first = edits.front(), &last = edits.back();
        const int end = last.Position + last.Removed + delta;
        changed.emplace_back(first.Position, std::max(end, first.Position));
    });
    if (redo)
        RichEdit1->redo();
    else
        RichEdit1->undo();
    disconnect(watch);
    // The selection the step brings back (before an undone step, after a
    // redone one) outlasts the colouring below.
    const int anchor = RichEdit1->Anchor(), caret = RichEdit1->Caret();
    // The text a step puts back gets the colour of the character before it
    // all along, and the blanks around it keep the colours of the text it
    // replaced: the lines from its first change to its last are coloured
    // anew, as on a load.
    for (const auto &[begin, end] : changed) {
        const int a = text->LineOf(begin), b = text->LineOf(end);
        const int from = text->LineStart(a), to = text->LineEnd(b);
        store->Fill(from, to, TColourStore::Default);
        store->Notify(from, to);
        int first = 0, last = 0, ignored = 0;
        colouring::LineRange(*text, a, first, ignored);
        colouring::LineRange(*text, b, ignored, last);
        ColourRange(RichEdit1, first, last);
    }
    // The caret is put in place after the text has changed: its line is
    // coloured once more where it ends up.
    ColourCaretLine();
    RichEdit1->SetSelection(anchor, caret);
    RichEdit1->ensureCursorVisible();
}

int TMDIChild::AskSave() {
    QString name = windowTitle();
    if (name.endsWith(QLatin1Char('*'))) name.chop(1);
    return AskSaveDiscardCancel(QStringLiteral("%1 への変更を保存しますか?").arg(name), this);
}

void TMDIChild::FormClose(QCloseEvent *event) {
    if (!Changed) {
        event->accept();
        return;
    }
    const int answer = AskSave();
    bool close = false;
    if (answer == QMessageBox::Discard) {
        close = true;
    } else if (answer == QMessageBox::Save) {
        if (SaveRequest)
            close = SaveRequest(*this);
        else if (!IsUntitled())
            close = Guarded([this] { Save(); }, this);
    }
    if (close)
        event->accept();
    else
        event->ignore();
}

void TMDIChild::closeEvent(QCloseEvent *event) {
    FormClose(event);
    if (event->isAccepted()) QMdiSubWindow::closeEvent(event);
}

bool TMDIChild::eventFilter(QObject *watched, QEvent *event) {
    if (watched == RichEdit1 && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        auto *key = static_cast<QKeyEvent *>(event);
        const auto mods = key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
        const bool undo = key->matches(QKeySequence::Undo) || (mods == Qt::ControlModifier && key->key() == Qt::Key_Z);
        const bool redo = key->matches(QKeySequence::Redo) ||
                          (mods == Qt::ControlModifier && key->key() == Qt::Key_Y) ||
                          (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key->key() == Qt::Key_Z);
        if (undo || redo) {
            key->accept();
            if (event->type() == QEvent::KeyPress) {
                if (redo)
                    Redo();
                else
                    Undo();
            }
            return true;
        }
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void GoToLine(TMDIChild *document, int n) {
    if (!document || n < 1) return;
    TRichEdit *control = document->RichEdit1;
    const TTextStore *text = control->Text();
    if (n > text->LineCount()) return;
    // The line's characters and, unless it is the last line, its CR LF.
    const int length = text->LineLength(n - 1) + (n < text->LineCount() ? 2 : 0);
    SetSelection(control, text->LineStart(n - 1), length);
    control->ShowLines(n - 1, n - 1, kContextLines);
    control->setFocus();
}
