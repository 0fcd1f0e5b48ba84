// The document window: its states, loading and saving byte for byte, failures
// that lose nothing, the close question, undo and redo, Go to line, and the
// positions and short names it works with.
#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "sourcetext.h"
#include <QTimer>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>

#include "childwin.h"
#include "modal.h"
#include "textof.h"
#include "editortest.h"
#include "sjis.h"
#include "testmain.h"

using edtest::Mask;
using edtest::ReadFile;

namespace {
const QString kUntitled = QStringLiteral("名称未設定");
QByteArray Sjis(const QString &s) {
    QByteArray b;
    return sjis::encode(s, b) ? b : QByteArray("<unencodable>");
}
using edtest::Failure;
}  // namespace

class TestChildWin : public QObject {
    Q_OBJECT
    QTemporaryDir Dir;

    QString Path(const QString &name) const { return Dir.filePath(name); }
    TMDIChild *Loaded(const QString &name, const QByteArray &bytes) {
        if (!edtest::WriteFile(Path(name), bytes)) return nullptr;
        auto *w = new TMDIChild;
        w->LoadFile(Path(name));
        w->show();
        return w;
    }
    static void Type(TMDIChild *w, const QString &text) { QTest::keyClicks(w->RichEdit1, text); }

private slots:
    void cleanup() {
        QList<QPointer<TMDIChild>> docs;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<TMDIChild *>(w)) docs << d;
        qDeleteAll(docs);
    }

    // new -> new and edited -> (Save: nothing) -> SaveAs: clean -> edited -> Save: clean.
    void states() {
        auto *w = new TMDIChild;
        w->show();
        QCOMPARE(w->windowTitle(), kUntitled);
        QVERIFY(w->IsUntitled() && !w->Changed && !w->Loading);
        Type(w, QStringLiteral("a"));
        QCOMPARE(w->windowTitle(), kUntitled + QLatin1Char('*'));
        Type(w, QStringLiteral("b"));
        QCOMPARE(w->windowTitle(), kUntitled + QLatin1Char('*'));
        w->Save();  // untitled: writes nothing, stays changed
        QVERIFY(w->Changed);
        QCOMPARE(w->windowTitle(), kUntitled + QLatin1Char('*'));
        QVERIFY(QDir(Dir.path()).isEmpty());
        QTest::keyClick(w->RichEdit1, Qt::Key_Return);
        Type(w, QStringLiteral("c"));
        w->SaveAs(Path(QStringLiteral("new.c")));
        QCOMPARE(w->FileName, Path(QStringLiteral("new.c")));
        QCOMPARE(w->windowTitle(), QStringLiteral("new.c"));
        QVERIFY(!w->Changed);
        QCOMPARE(ReadFile(w->FileName), QByteArray("ab\r\nc"));  // a new document writes CR LF
        Type(w, QStringLiteral("d"));
        QCOMPARE(w->windowTitle(), QStringLiteral("new.c*"));
        w->Save();
        QCOMPARE(w->windowTitle(), QStringLiteral("new.c"));
        QCOMPARE(ReadFile(w->FileName), QByteArray("ab\r\ncd"));
        QVERIFY(QFile::remove(w->FileName));
        w->Save();  // a titled document is written also when unchanged
        QCOMPARE(ReadFile(w->FileName), QByteArray("ab\r\ncd"));
        // Loading makes it clean, with no undo history.
        edtest::WriteFile(Path(QStringLiteral("other.c")), "y\n");
        Type(w, QStringLiteral("e"));
        w->LoadFile(Path(QStringLiteral("other.c")));
        QCOMPARE(w->windowTitle(), QStringLiteral("other.c"));
        QVERIFY(!w->Changed && !w->Loading && w->RichEdit1->isVisible());
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("y\r\n"));  // every line break reads as CR LF
        QVERIFY(!w->RichEdit1->isUndoAvailable());
    }

    // Files that come back byte for byte when opened and saved without an edit.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("crlf") << QByteArray("int a;\r\nint b;\r\n");
        QTest::newRow("lf") << QByteArray("int a;\nint b;\n");
        QTest::newRow("cr") << QByteArray("int a;\rint b;\r");
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n\ne\r\r\n\n\r");
        QTest::newRow("no final break") << QByteArray("int a;\r\nint b;");
        QTest::newRow("nul bytes") << QByteArray("a\0b\r\n\0\0\r\n", 9);
        QTest::newRow("japanese") << Sjis(QStringLiteral("/* 日本語 ｶﾀｶﾅ */\r\nint 変数;\r\n"));
        QTest::newRow("invalid sjis") << QByteArray("\x80\xA0\xFD\xFE\xFF x \x81\x20 \x82\r\n\xE0", 15);
        QByteArray random(64 * 1024, '\0');
        std::mt19937 gen(42);
        for (char &c : random) c = char(gen());
        QTest::newRow("random binary") << random;
        QByteArray longLine(1 << 20, 'x');
        for (int i = 0; i < longLine.size(); i += 7) longLine[i] = ' ';
        QTest::newRow("1 MB line") << longLine;
        QByteArray big;
        while (big.size() < 4 * 1024 * 1024) big += Sjis(QStringLiteral("/* 日本 */ int f(void);\r\nchar c;\n\x81\x20;\r"));
        QTest::newRow("4 MB") << big;
    }
    void roundTrip() {
        QFETCH(QByteArray, bytes);
        QPointer<TMDIChild> w = Loaded(QStringLiteral("round.c"), bytes);
        QVERIFY(w && !w->Changed);
        w->SaveAs(Path(QStringLiteral("copy.c")));
        QVERIFY(ReadFile(w->FileName) == bytes);
    }

    void typedLinesTakeFilesLineEnd_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("lf") << QByteArray("a\nb\n") << QByteArray("a\nx\nb\n");
        QTest::newRow("crlf") << QByteArray("a\r\nb") << QByteArray("a\r\nx\r\nb");
        QTest::newRow("cr") << QByteArray("a\rb\r") << QByteArray("a\rx\rb\r");
        // The lines not edited keep their own ends; a typed one takes the most common.
        QTest::newRow("mixed") << QByteArray("a\nb\r\nc\nd") << QByteArray("a\nx\nb\r\nc\nd");
    }
    void typedLinesTakeFilesLineEnd() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, saved);
        TMDIChild *w = Loaded(QStringLiteral("ends.c"), bytes);
        SetSelection(w->RichEdit1, 1, 0);
        QTest::keyClick(w->RichEdit1, Qt::Key_Return);
        Type(w, QStringLiteral("x"));
        w->Save();
        QCOMPARE(ReadFile(w->FileName), saved);
    }

    // A FIFO is not waited on and a device is not read: both are refused at once.
    void loadFailureLeavesDocument_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("regular");  // false: refused as no regular file
        QTest::newRow("missing") << QStringLiteral("missing.c") << true;
        QTest::newRow("directory") << QStringLiteral("subdir") << true;
        QTest::newRow("in missing directory") << QStringLiteral("nodir/x.c") << true;
        QTest::newRow("no permission") << QStringLiteral("secret.c") << true;  // root reads it all the same
        QTest::newRow("empty path") << QString() << true;
        QTest::newRow("fifo without a writer") << QStringLiteral("fifo.c") << false;
        QTest::newRow("endless device") << QStringLiteral("/dev/zero") << false;
        QTest::newRow("terminal device") << QStringLiteral("/dev/tty") << false;
    }
    void loadFailureLeavesDocument() {
        QFETCH(QString, path);
        QFETCH(bool, regular);
        QDir(Dir.path()).mkpath(QStringLiteral("subdir"));
        QFile::remove(Path(QStringLiteral("fifo.c")));
        QCOMPARE(::mkfifo(QFile::encodeName(Path(QStringLiteral("fifo.c"))).constData(), 0600), 0);
        if (path == QLatin1String("/dev/tty") && !QFileInfo::exists(path)) QSKIP("no /dev/tty here");
        edtest::WriteFile(Path(QStringLiteral("secret.c")), "s");
        QFile::setPermissions(Path(QStringLiteral("secret.c")), QFileDevice::Permissions());
        QFile probe(Path(path));
        if (path == QLatin1String("secret.c") && probe.open(QIODevice::ReadOnly)) QSKIP("running as root");
        const QString full = path.isEmpty() || path.startsWith(QLatin1Char('/')) ? path : Path(path);
        TMDIChild *w = Loaded(QStringLiteral("kept.c"), "int kept;\r\n");
        Type(w, QStringLiteral("q"));
        const QString message = Failure([&] { w->LoadFile(full); });
        if (regular)
            QCOMPARE(message, EQvError::CannotOpen(full).Message);
        else if (message != EQvError::CannotOpen(full).Message)  // /dev/tty without a terminal cannot be opened
            QCOMPARE(message, EQvError::NotRegularOpen(full).Message);
        QVERIFY(!w->Loading && w->Changed);
        QCOMPARE(w->FileName, Path(QStringLiteral("kept.c")));
        QCOMPARE(w->windowTitle(), QStringLiteral("kept.c*"));
        Type(w, QStringLiteral("r"));  // and it goes on working
        w->Save();
        QCOMPARE(ReadFile(w->FileName), QByteArray("qrint kept;\r\n"));
    }

    // The text's length counted from the bytes is the length the store holds
    // after the load; a text past the store's limit is refused with the file's
    // name and the limit, by its size before anything is read, and the
    // document keeps its text.
    void tooLongIsRefused_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("CR LF") << QByteArray("ab\r\ncd\r\n");
        QTest::newRow("LF and lone CR") << QByteArray("ab\ncd\ref\r\r\n\n");
        QTest::newRow("Japanese, half-width, invalid bytes") << QByteArray("\x93\xfa\x96\x7b\xb1\x80\xff\x81\n\x81\x5c\\");
        QTest::newRow("a lead byte at the end") << QByteArray("x\r\n\x93");
        QTest::newRow("empty") << QByteArray();
    }
    void tooLongIsRefused() {
        QFETCH(QByteArray, bytes);
        TTextStore store;
        sourcetext::Load(&store, bytes);
        QCOMPARE(sourcetext::TextLength(bytes), qint64(store.Length()));
        const QString name = Path(QStringLiteral("huge.c"));
        const int limit = TText::kMaxLength;
        QCOMPARE(Failure([&] { sourcetext::CheckLength(name, qint64(limit)); }), QStringLiteral("<no error>"));
        const QString refused = Failure([&] { sourcetext::CheckLength(name, qint64(limit) + 1); });
        QVERIFY2(refused.contains(name) && refused.contains(QString::number(limit)), qPrintable(refused));
        // A file of twice as many bytes as the limit, all of it a hole: refused unread.
        QFile huge(name);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(2 * qint64(limit) + 2));
        huge.close();
        TMDIChild *w = Loaded(QStringLiteral("kept.c"), "int kept;\r\n");
        QCOMPARE(Failure([&] { w->LoadFile(name); }), refused);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int kept;\r\n"));
        QCOMPARE(w->FileName, Path(QStringLiteral("kept.c")));
        QVERIFY(!w->Changed && !w->Loading);
        QFile::remove(name);
    }

    // A failed Save As leaves the document exactly as it was: its file, its
    // caption and its changed state; Ctrl+S then still writes to its own file.
    void saveFailureKeepsState_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");  // empty: cannot create the target
        QTest::newRow("missing directory") << "nodir/out.c" << "e" << "";
        QTest::newRow("directory as target") << "outdir" << "e" << "";
        QTest::newRow("empty path") << "" << "e" << "";
        QTest::newRow("euro") << "euro.c" << QStringLiteral("€") << QStringLiteral("2 行目の文字 U+20AC '€'");
        QTest::newRow("emoji") << "emoji.c" << QStringLiteral("\U0001F600") << QStringLiteral("2 行目の文字 U+1F600");
    }
    void saveFailureKeepsState() {
        QFETCH(QString, target);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QDir(Dir.path()).mkpath(QStringLiteral("outdir"));
        const QByteArray original("int s;\r\nint t;\r\n");
        const QString path = target.isEmpty() ? QString() : Path(target);
        if (!target.isEmpty()) edtest::WriteFile(path, original);  // fails for the first two, as it should
        TMDIChild *w = Loaded(QStringLiteral("src.c"), original);
        const QString src = w->FileName;
        SetSelection(w->RichEdit1, 10, 0);
        w->RichEdit1->insertPlainText(typed);
        const QString saveAs = Failure([&] { w->SaveAs(path); });
        if (message.isEmpty())
            QCOMPARE(saveAs, EQvError::CannotCreate(path).Message);
        else
            QVERIFY2(saveAs.contains(message) && saveAs.contains(path), qPrintable(saveAs));
        QCOMPARE(w->FileName, src);
        QCOMPARE(w->windowTitle(), QStringLiteral("src.c*"));
        QVERIFY(w->Changed);
        if (!message.isEmpty()) {
            QCOMPARE(ReadFile(path), original);
            const QString save = Failure([&] { w->Save(); });
            QVERIFY2(save.contains(message) && save.contains(src), qPrintable(save));
            QVERIFY(w->Changed);
        }
        QCOMPARE(ReadFile(src), original);
        QCOMPARE(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("src")).size(), 1);
    }

    void aDiskThatRefusesTheLastBytesLosesNothing() {
        const QByteArray original(4096, 'a');
        TMDIChild *w = Loaded(QStringLiteral("full.c"), original);
        w->RichEdit1->insertPlainText(QStringLiteral("b"));
        QString message;
        {
            qvtest::FileSizeLimit limit(1024);  // the disk refuses every byte past the 1024th
            QVERIFY(limit.IsActive());
            message = Failure([&] { w->Save(); });
        }
        QCOMPARE(message, EQvError::CannotCreate(Path(QStringLiteral("full.c"))).Message);
        QCOMPARE(ReadFile(Path(QStringLiteral("full.c"))), original);
        QVERIFY(w->Changed);
        QCOMPARE(QDir(Dir.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("full")).size(), 1);
        w->Save();
        QCOMPARE(ReadFile(Path(QStringLiteral("full.c"))), "b" + original);
    }

    // Closing: answer of the question (-1: not changed, nothing asked), result of SaveRequest.
    // The file's state is taken by a load and by each write, so that only a
    // change made by another program shows. Save asks BeforeSave first and
    // writes nothing on No. Reload keeps the caret's line and column (as far
    // as the new text reaches) and the view; a file that cannot be read
    // leaves the document as it was.
    // The checksum by which a file touched alone is known to hold what the
    // document read or wrote: fixed values, whichever way the bytes come.
    void checksumsAreFixed_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint64>("sum");
        QTest::newRow("empty") << QByteArray() << quint64(0x988fa8661941cc1full);
        QTest::newRow("one byte") << QByteArray("a") << quint64(0x3fb6760da8d3357eull);
        QTest::newRow("seven") << QByteArray("abcdefg") << quint64(0x223bcd63026b7770ull);
        QTest::newRow("one word") << QByteArray("abcdefgh") << quint64(0x44a425776957d0a0ull);
        QTest::newRow("a word and a byte") << QByteArray("abcdefghi") << quint64(0x25151b91cc271af3ull);
        QTest::newRow("source") << QByteArray("int main(void)\r\n{\r\n\x95\x5c\r\n}\r\n") << quint64(0x55a9653b88fbefa0ull);
    }
    void checksumsAreFixed() {
        QFETCH(QByteArray, bytes);
        QFETCH(quint64, sum);
        QCOMPARE(TDiskState::Checksum(bytes), sum);
        for (qsizetype a = 0; a <= bytes.size(); ++a)
            for (qsizetype b = a; b <= bytes.size(); ++b) {
                TDiskState::TSum blocks;
                blocks.Add(QByteArrayView(bytes).first(a));
                blocks.Add(QByteArrayView(bytes).sliced(a, b - a));
                blocks.Add(QByteArrayView(bytes).sliced(b));
                QCOMPARE(blocks.Result(), sum);
            }
    }

    void diskStateAndReload() {
        QByteArray text;
        for (int i = 0; i < 200; ++i) text += "line " + QByteArray::number(i) + "\n";
        TMDIChild *w = Loaded(QStringLiteral("r.c"), text);
        QVERIFY(w);
        w->resize(400, 300);
        const QString path = w->FileName;
        QCOMPARE(w->Disk.Kind, TDiskState::Regular);
        QVERIFY(w->Disk == TDiskState::Of(path));
        // Another program: a new inode, or the same one written in place at another time.
        QVERIFY(edtest::WriteFile(path + QStringLiteral(".new"), text));
        QVERIFY(QFile::rename(path, path + QStringLiteral(".old")) && QFile::rename(path + QStringLiteral(".new"), path));
        QVERIFY(w->Disk != TDiskState::Of(path));
        int asked = 0;
        bool allow = false;
        w->BeforeSave = [&](TMDIChild &d) {
            ++asked;
            return &d == w && allow;
        };
        Type(w, QStringLiteral("x"));
        w->Save();
        QCOMPARE(asked, 1);
        QCOMPARE(ReadFile(path), text);
        QVERIFY(w->Changed);
        QCOMPARE(w->windowTitle(), QStringLiteral("r.c*"));
        allow = true;
        w->Save();
        QCOMPARE(ReadFile(path), "x" + text);
        QVERIFY(!w->Changed && w->Disk == TDiskState::Of(path));
        {
            // Touched alone afterwards, the file still holds what the document wrote.
            const struct timespec later[2] = {{1200000000, 0}, {1200000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), later, 0), 0);
            TDiskState saved = w->Disk;
            QVERIFY(saved != TDiskState::Of(path) && TDiskState::StillHolds(path, saved));
        }
        w->SaveAs(Path(QStringLiteral("s.c")));
        QCOMPARE(asked, 2);  // Save As has its own question
        QVERIFY(w->Disk == TDiskState::Of(Path(QStringLiteral("s.c"))));
        // Read again: the caret on its line and column, the view where it was.
        TRichEdit *e = w->RichEdit1;
        e->verticalScrollBar()->setValue(e->verticalScrollBar()->maximum() / 2);
        const int top = e->FirstVisibleLine();
        QVERIFY(top > 10);
        const int caretLine = top + 3;
        e->SetSelection(e->Text()->LineStart(caretLine) + 4, e->Text()->LineStart(caretLine) + 4);
        QVERIFY(edtest::WriteFile(w->FileName, QByteArray(text).replace("line", "LINE")));
        const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(w->FileName).constData(), times, 0), 0);
        w->Reload();
        QCOMPARE(TextSlice(e, e->Text()->LineStart(1), 6), QStringLiteral("LINE 1"));
        QCOMPARE(e->Text()->LineOf(e->Caret()), caretLine);
        QCOMPARE(e->Caret() - e->Text()->LineStart(caretLine), 4);
        QCOMPARE(e->FirstVisibleLine(), top);
        QVERIFY(!w->Changed && w->Disk == TDiskState::Of(w->FileName));
        // The caret out of view: the view stays, the caret too.
        e->SetSelection(e->Text()->LineStart(2) + 5, e->Text()->LineStart(2) + 5);
        e->verticalScrollBar()->setValue(e->verticalScrollBar()->maximum() / 2);
        w->Reload();
        QCOMPARE(e->FirstVisibleLine(), top);
        QCOMPARE(e->Caret(), e->Text()->LineStart(2) + 5);
        // Shorter: the last line, as far as it reaches.
        QVERIFY(edtest::WriteFile(w->FileName, "a\nbc"));
        w->Reload();
        QCOMPARE(e->Caret(), e->Text()->LineStart(1) + 2);
        // What cannot be read changes nothing, the enabled state included.
        e->SetSelection(1, 1);
        QVERIFY(QFile::remove(w->FileName));
        QCOMPARE(::mkfifo(QFile::encodeName(w->FileName).constData(), 0600), 0);
        const TDiskState before = w->Disk;
        QVERIFY_THROWS_EXCEPTION(EQvError, w->Reload());
        QCOMPARE(TextOf(e), QStringLiteral("a\r\nbc"));
        QCOMPARE(e->Caret(), 1);
        QVERIFY(e->isEnabled() && !w->Changed && w->Disk == before);
        // Marked unsaved (its file went): "*" and Changed, and no more.
        w->MarkUnsaved();
        QVERIFY(w->Changed && e->isModified());
        QCOMPARE(w->windowTitle(), QStringLiteral("s.c*"));
        w->MarkUnsaved();
        QCOMPARE(w->windowTitle(), QStringLiteral("s.c*"));
        QCOMPARE(TextOf(e), QStringLiteral("a\r\nbc"));
    }

    void close_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("saved");  // SaveRequest's result; -1: none set
        QTest::addColumn<bool>("closes");
        QTest::newRow("unchanged") << -1 << 1 << true;
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << 1 << false;
        QTest::newRow("discard") << int(QMessageBox::Discard) << 1 << true;
        QTest::newRow("save succeeds") << int(QMessageBox::Save) << 1 << true;
        QTest::newRow("save cancelled") << int(QMessageBox::Save) << 0 << false;
        QTest::newRow("save, no request") << int(QMessageBox::Save) << -1 << true;
    }
    void close() {
        QFETCH(int, answer);
        QFETCH(int, saved);
        QFETCH(bool, closes);
        QPointer<TMDIChild> w = Loaded(QStringLiteral("close.c"), "c\n");
        if (answer >= 0) Type(w, QStringLiteral("k"));
        QStringList asked, requests;
        const qvtest::MessageBoxAnswers boxes([&](QMessageBox &box) {
            asked << box.text();
            return QMessageBox::StandardButton(answer);
        });
        if (saved >= 0)
            w->SaveRequest = [&](TMDIChild &d) {
                requests << d.FileName;
                return saved == 1;
            };
        QCOMPARE(w->close(), closes);
        QCOMPARE(asked, answer < 0 ? QStringList() : QStringList{QStringLiteral("close.c への変更を保存しますか?")});
        QCOMPARE(requests.size(), answer == QMessageBox::Save && saved >= 0 ? 1 : 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(w.isNull(), closes);
        // Only Save without a SaveRequest writes, through Save().
        QCOMPARE(ReadFile(Path(QStringLiteral("close.c"))), QByteArray(saved < 0 ? "kc\n" : "c\n"));
    }

    void closeQuestionBox() {
        TMDIChild *w = Loaded(QStringLiteral("ask.c"), "x");
        Type(w, QStringLiteral("y"));
        QString caption, text;
        QTimer::singleShot(0, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                caption = box->windowTitle();
                text = box->text();
                box->button(QMessageBox::Discard)->click();
            }
        });
        QCOMPARE(w->AskSave(), int(QMessageBox::Discard));
        QCOMPARE(caption, QStringLiteral("Quelvane"));
        QCOMPARE(text, QStringLiteral("ask.c への変更を保存しますか?"));
    }

    void undoRedo() {
        TMDIChild *w = Loaded(QStringLiteral("undo.c"), "in x;\r\n");
        w->RichEdit1->setFocus();
        SetSelection(w->RichEdit1, 2, 0);
        const QString before = Mask(w->RichEdit1);
        Type(w, QStringLiteral("t"));
        const QString typed = Mask(w->RichEdit1);
        QCOMPARE(typed.left(3), QStringLiteral("KKK"));
        // One undo takes back the keystroke and the colouring it caused.
        QTest::keyClick(w->RichEdit1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("in x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1), before);
        QVERIFY(!w->RichEdit1->isUndoAvailable());
        QVERIFY(w->Changed);  // undo is an edit as well
        QTest::keyClick(w->RichEdit1, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(Mask(w->RichEdit1), typed);
        QTest::keyClick(w->RichEdit1, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(w->RichEdit1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1), typed);
        // The main window's Cut and Paste call the control; one undo each.
        QApplication::clipboard()->setText(QStringLiteral("unsigned "));
        w->RichEdit1->paste();
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("intunsigned  x;\r\n"));
        w->Undo();
        QCOMPARE(Mask(w->RichEdit1), typed);
        SetSelection(w->RichEdit1, 0, 4);
        w->RichEdit1->cut();
        w->Undo();
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int x;\r\n"));
        // Del and Ctrl+A reach the text.
        SetSelection(w->RichEdit1, 0, 0);
        QTest::keyClick(w->RichEdit1, Qt::Key_Delete);
        QTest::keyClick(w->RichEdit1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(SelLength(w->RichEdit1), 7);
    }

    void positions_data() {
        QTest::addColumn<QString>("text");
        const QString bold = QString::fromUcs4(U"\U0001D400"), face = QString::fromUcs4(U"\U0001F600");
        QTest::newRow("short lines") << QStringLiteral("ab\r\n\r\n日本\r\ne");
        // Lines far wider than the view, which lays out only the characters
        // that can reach its right edge: pairs of one column and of two, the
        // edge of that stretch on either half of a pair.
        QTest::newRow("long line of pairs") << bold.repeated(400) + QStringLiteral("\r\nx");
        QTest::newRow("long line of pairs, one unit on") << QLatin1Char('a') + bold.repeated(400);
        QTest::newRow("long line of wide pairs") << QStringLiteral("a\t") + face.repeated(300);
        // A byte of a file that is no Shift-JIS stays a lone low surrogate.
        QTest::newRow("long line of pairs and escaped bytes") << (bold + QChar(0xDC95)).repeated(300);
    }
    void positions() {
        // Every selection that starts and ends outside a CR LF comes back as set.
        QFETCH(QString, text);
        TRichEdit e;
        QPalette pal = e.palette();
        pal.setColor(QPalette::Text, Qt::black);
        e.setPalette(pal);
        e.resize(300, 100);
        e.show();
        e.setPlainText(text);
        QCOMPARE(TextOf(&e), text);
        const int n = TextLength(&e);
        QCOMPARE(n, int(text.size()));
        auto inBreak = [&](int p) { return p > 0 && p < n && text[p - 1] == QLatin1Char('\r'); };
        for (int s = -1; s <= n + 1 && n < 64; ++s) {
            for (int len = -1; s + len <= n + 1; ++len) {
                QCOMPARE(TextSlice(&e, s, len), text.mid(std::max(s, 0), std::max(0, len + std::min(s, 0))));
                if (s < 0 || len < 0 || s + len > n || inBreak(s) || inBreak(s + len)) continue;
                SetSelection(&e, s, len);
                QCOMPARE(SelStart(&e), s);
                QCOMPARE(SelLength(&e), len);
            }
        }
        SetSelection(&e, 1000, 5);  // clipped to the text
        QCOMPARE(SelStart(&e), n);
        QVERIFY(!ColourAt(&e, -1).isValid() && !ColourAt(&e, n).isValid());
        // Each character's column (a pair one character, 😀 and 日 two
        // columns wide), the point of its caret, a step right and back.
        for (int p = 0, col = 0, next = 0, before = 0; p <= n; before = p, p = next) {
            const char32_t c = p < n && text[p].isHighSurrogate() ? QChar::surrogateToUcs4(text[p], text[p + 1]) : p < n ? text[p].unicode() : 0;
            next = p + (c > 0xFFFF || c == '\r' ? 2 : 1);
            QCOMPARE(e.ColumnOf(p), col);
            SetSelection(&e, p, 0);
            const QRect r = e.CaretRect(p);
            QCOMPARE(e.PositionAt(QPoint(r.x() + 1, r.center().y())), p);
            QTest::keyClick(&e, Qt::Key_Right);
            QCOMPARE(SelStart(&e), std::min(next, n));
            QTest::keyClick(&e, Qt::Key_Left);
            QCOMPARE(SelStart(&e), p == n ? before : p);
            col = c == '\r' ? 0 : c == '\t' ? col / 8 * 8 + 8 : col + (c == 0x1F600 || (c >= 0x3000 && c < 0xD800) ? 2 : 1);
        }
        // What the screen shows from the line's start, middle and end.
        SetSelection(&e, 0, 0);
        for (int v : {0, e.horizontalScrollBar()->maximum() / 2 + 1, e.horizontalScrollBar()->maximum()}) {
            e.horizontalScrollBar()->setValue(v);
            const QString painted = edtest::Painted(&e);
            QVERIFY(painted.contains(QLatin1Char('B')));
            QCOMPARE(painted, edtest::PaintedExpected(&e, painted));
        }
    }

    void goToLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("start");  // -1: nothing changes
        QTest::addColumn<int>("length");
        // The view: ten whole lines, first at `top` (1-based); the lines in view
        // afterwards, first to last (0: not looked at).
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("firstShown");
        QTest::addColumn<int>("lastShown");
        const QString t = QStringLiteral("ab\r\ncd\r\nef");
        QTest::newRow("first line") << t << 1 << 0 << 4 << 1 << 1 << 3;
        QTest::newRow("second line") << t << 2 << 4 << 4 << 1 << 1 << 3;
        QTest::newRow("last line") << t << 3 << 8 << 2 << 1 << 1 << 3;
        QTest::newRow("past the end") << t << 4 << -1 << 0 << 1 << 0 << 0;
        QTest::newRow("zero") << t << 0 << -1 << 0 << 1 << 0 << 0;
        QTest::newRow("negative") << t << -2 << -1 << 0 << 1 << 0 << 0;
        QTest::newRow("empty last line") << QStringLiteral("ab\r\n") << 2 << 4 << 0 << 1 << 1 << 2;
        QTest::newRow("empty middle line") << QStringLiteral("a\r\n\r\nb") << 2 << 3 << 2 << 1 << 1 << 3;
        // 100 lines "0".."99" (line n holds n - 1, three characters each with its
        // CR LF); three lines of context where the file has them.
        QStringList numbers;
        for (int i = 0; i < 100; ++i) numbers << QStringLiteral("%1").arg(i, 1, 10);
        const QString h = numbers.join(QStringLiteral("\r\n"));
        const auto at = [&](int line) { return int(numbers.mid(0, line - 1).join(QStringLiteral("\r\n")).size()) + (line > 1 ? 2 : 0); };
        const auto len = [&](int line) { return int(numbers[line - 1].size()) + (line < 100 ? 2 : 0); };
        const struct {
            const char *name;
            int line, top, first;
        } rows[] = {
            {"up, far above", 30, 51, 27},
            {"up, just above the view", 50, 51, 47},
            {"up, in view without its context", 52, 51, 49},
            {"up, near the file's start", 2, 51, 1},
            {"in view with its context", 25, 21, 21},
            {"down, just below the view", 61, 51, 55},
            {"down, far below", 40, 1, 34},
            {"down, in view without its context", 59, 51, 53},
            {"down, near the file's end", 99, 1, 91},
            {"the last line", 100, 1, 91},
        };
        for (const auto &r : rows)
            QTest::newRow(r.name) << h << r.line << at(r.line) << len(r.line) << r.top << r.first << r.first + 9;
    }
    void goToLine() {
        QFETCH(QString, text);
        QFETCH(int, line);
        QFETCH(int, start);
        QFETCH(int, length);
        QFETCH(int, top);
        QFETCH(int, firstShown);
        QFETCH(int, lastShown);
        QWidget host;
        auto *other = new QLineEdit(&host);
        auto *w = new TMDIChild(&host);
        w->Loading = true;
        w->RichEdit1->setPlainText(text);
        w->Loading = false;
        host.show();
        QVERIFY(QTest::qWaitForWindowActive(&host));
        TRichEdit *e = w->RichEdit1;
        w->resize(w->width(), w->height() - e->viewport()->height() + 10 * e->LineHeight() + e->LineHeight() / 2);
        QCOMPARE(e->VisibleLines(), 10);
        e->verticalScrollBar()->setValue(top - 1);
        QCOMPARE(e->FirstVisibleLine(), top - 1);
        other->setFocus();
        SetSelection(e, 1, 1);
        GoToLine(w, line);
        QCOMPARE(SelStart(e), start < 0 ? 1 : start);
        QCOMPARE(SelLength(e), start < 0 ? 1 : length);
        QCOMPARE(e->hasFocus(), start >= 0);
        if (firstShown > 0) {
            QCOMPARE(e->FirstVisibleLine() + 1, firstShown);
            QCOMPARE(std::min(e->FirstVisibleLine() + e->VisibleLines(), e->Text()->LineCount()), lastShown);
        }
        GoToLine(nullptr, 1);
    }

    void shortNames_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shortPath");
        QTest::newRow("absolute") << "/home/u/src/main.c" << "main.c" << "/home/u/src/main.c";
        QTest::newRow("bare") << "main.c" << "main.c" << "main.c";
        QTest::newRow("backslashes") << "C:\\src\\long name.c" << "long name.c" << "C:\\src\\long name.c";
        QTest::newRow("drive") << "a:b.c" << "b.c" << "a:b.c";
        QTest::newRow("japanese") << QStringLiteral("/日本/ソース.c") << QStringLiteral("ソース.c") << QStringLiteral("/日本/ソース.c");
        // No file-name part: the path itself; nothing at all: one blank.
        QTest::newRow("directory") << "/tmp/src/" << "/tmp/src/" << "/tmp/src/";
        QTest::newRow("empty") << "" << " " << " ";
    }
    void shortNames() {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, shortPath);
        QCOMPARE(ShortName(path), name);
        QCOMPARE(ShortPath(path), shortPath);
    }
};

QV_TEST_MAIN(TestChildWin)
#include "tst_childwin.moc"
