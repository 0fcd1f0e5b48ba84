// The document window: its states, loading and saving byte for byte, failures
// that lose nothing, the close question, and undo and redo of typing.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QAbstractButton>
#include <QTest>
#include <QTextBlock>
#include <random>

#include "childwin.h"
#include "editortest.h"
#include "sjis.h"

using edtest::Mask;
using edtest::ReadAll;
using edtest::WriteAll;

namespace {
const QString kUntitled = QStringLiteral("名称未設定");
QByteArray Sjis(const QString &s) {
    QByteArray b;
    return sjis::encode(s, b) ? b : QByteArray("<unencodable>");
}
}  // namespace

class TestChildWin : public QObject {
    Q_OBJECT

    QString Path(const QString &name) const { return Dir.filePath(name); }

    // A document window with the file loaded.
    std::unique_ptr<TMDIChild> Loaded(const QString &name, const QByteArray &bytes) {
        const QString path = Path(name);
        if (!WriteAll(path, bytes)) return nullptr;
        auto w = std::make_unique<TMDIChild>();
        w->LoadFile(path);
        w->show();
        w->RichEdit1->setFocus();
        return w;
    }

    void Type(TMDIChild &w, const QString &text) { QTest::keyClicks(w.RichEdit1, text); }

    // Expects fn to throw an EQvError and returns its message.
    template <class F>
    static QString Failure(F &&fn) {
        try {
            fn();
        } catch (const EQvError &e) {
            return e.Message;
        }
        return QStringLiteral("<no error>");
    }

    QTemporaryDir Dir;

private slots:
    void initTestCase() { QVERIFY(Dir.isValid()); }
    void cleanup() { TMDIChild::AskSaveHook = nullptr; }

    // The window as the layout builds it.
    void layout() {
        TMDIChild w;
        QCOMPARE(w.windowTitle(), kUntitled);
        QCOMPARE(w.size(), QSize(429, 215));
        QVERIFY(w.testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(w.RichEdit1->objectName(), QStringLiteral("RichEdit1"));
        QCOMPARE(w.RichEdit1->font().family(), QStringLiteral("Terminal"));
        QCOMPARE(w.RichEdit1->font().pixelSize(), 13);
        QCOMPARE(w.font().family(), QStringLiteral("System"));
        QCOMPARE(w.font().pixelSize(), 13);
        QCOMPARE(w.RichEdit1->lineWrapMode(), QPlainTextEdit::NoWrap);
        QCOMPARE(w.RichEdit1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(w.RichEdit1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QVERIFY(!w.RichEdit1->tabChangesFocus());
        const QPalette pal = w.RichEdit1->palette();
        QCOMPARE(pal.color(QPalette::Text), QColor(0, 0, 0));
        QCOMPARE(pal.color(QPalette::Inactive, QPalette::Highlight), pal.color(QPalette::Active, QPalette::Highlight));
        QVERIFY(!w.windowIcon().isNull());
    }

    // The states: new, new and edited, clean, edited.
    void newDocument() {
        TMDIChild w;
        w.show();
        QVERIFY(w.IsUntitled());
        QVERIFY(!w.Changed);
        QVERIFY(!w.Loading);
        QVERIFY(w.FileName.isEmpty());
        QCOMPARE(TextLength(w.RichEdit1), 0);
        Type(w, QStringLiteral("a"));
        QCOMPARE(w.windowTitle(), kUntitled + QLatin1Char('*'));
        QVERIFY(w.Changed);
        Type(w, QStringLiteral("b"));
        QCOMPARE(w.windowTitle(), kUntitled + QLatin1Char('*'));
    }

    void loadGivesCleanDocument() {
        auto w = Loaded(QStringLiteral("main.c"), "int main;\r\n");
        QVERIFY(w);
        QCOMPARE(w->windowTitle(), QStringLiteral("main.c"));
        QCOMPARE(w->FileName, Path(QStringLiteral("main.c")));
        QVERIFY(!w->Changed);
        QVERIFY(!w->Loading);
        QVERIFY(!w->IsUntitled());
        QVERIFY(w->RichEdit1->isVisible());
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int main;\r\n"));
        Type(*w, QStringLiteral("x"));
        QCOMPARE(w->windowTitle(), QStringLiteral("main.c*"));
        // A second load makes it clean again, with no undo history.
        WriteAll(Path(QStringLiteral("other.c")), "y");
        w->LoadFile(Path(QStringLiteral("other.c")));
        QCOMPARE(w->windowTitle(), QStringLiteral("other.c"));
        QVERIFY(!w->Changed);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("y"));
        QVERIFY(!w->RichEdit1->document()->isUndoAvailable());
    }

    void saveRewritesEditedFile() {
        auto w = Loaded(QStringLiteral("save.c"), "int a;\r\nint b;\r\n");
        QVERIFY(w);
        SetSelection(w->RichEdit1, 6, 0);
        Type(*w, QStringLiteral(" /* x */"));
        QCOMPARE(w->windowTitle(), QStringLiteral("save.c*"));
        w->Save();
        QCOMPARE(ReadAll(w->FileName), QByteArray("int a; /* x */\r\nint b;\r\n"));
        QCOMPARE(w->windowTitle(), QStringLiteral("save.c"));
        QVERIFY(!w->Changed);
        // Save writes a titled document also when it is unchanged.
        QVERIFY(QFile::remove(w->FileName));
        w->Save();
        QCOMPARE(ReadAll(w->FileName), QByteArray("int a; /* x */\r\nint b;\r\n"));
    }

    void saveAsGivesNewPath() {
        TMDIChild w;
        w.show();
        Type(w, QStringLiteral("int x;"));
        QTest::keyClick(w.RichEdit1, Qt::Key_Return);
        Type(w, QStringLiteral("y"));
        const QString path = Path(QStringLiteral("saved_as.c"));
        w.SaveAs(path);
        QCOMPARE(w.FileName, path);
        QCOMPARE(w.windowTitle(), QStringLiteral("saved_as.c"));
        QVERIFY(!w.Changed);
        QVERIFY(!w.IsUntitled());
        QCOMPARE(ReadAll(path), QByteArray("int x;\r\ny"));  // a new document writes CR LF
    }

    void saveUntitledWritesNothing() {
        TMDIChild w;
        w.show();
        Type(w, QStringLiteral("z"));
        const QStringList before = QDir(Dir.path()).entryList(QDir::Files);
        w.Save();
        QCOMPARE(QDir(Dir.path()).entryList(QDir::Files), before);
        QCOMPARE(w.windowTitle(), kUntitled + QLatin1Char('*'));
        QVERIFY(w.Changed);  // still mirrors the caption
        QVERIFY(w.IsUntitled());
    }

    // Files that come back byte for byte when opened and saved without an edit.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("crlf") << QByteArray("int a;\r\nint b;\r\n");
        QTest::newRow("lf") << QByteArray("int a;\nint b;\n");
        QTest::newRow("cr") << QByteArray("int a;\rint b;\r");
        QTest::newRow("mixed") << QByteArray("a\r\nb\nc\rd\r\n\ne");
        QTest::newRow("cr before crlf") << QByteArray("a\r\r\nb\n\r");
        QTest::newRow("no final break") << QByteArray("int a;\r\nint b;");
        QTest::newRow("only breaks") << QByteArray("\r\n\r\n\n\r");
        QTest::newRow("nul bytes") << QByteArray("a\0b\r\n\0\0\r\n", 9);
        QTest::newRow("japanese") << Sjis(QStringLiteral("/* 日本語のコメント ｶﾀｶﾅ */\r\nint 変数;\r\n"));
        QTest::newRow("invalid sjis") << QByteArray("\x80\xA0\xFD\xFE\xFF x \x81\x20 \x82\r\n\xE0", 15);
        QTest::newRow("lone lead at end") << QByteArray("abc\x81", 4);
        QTest::newRow("tab and blanks") << QByteArray("\tint  x ;\t\r\n");
        QTest::newRow("separator-like") << QByteArray("\x0b\x0c\x1c\x1d\x1e\x1f\x7f\r\n");
        QByteArray all;
        for (int i = 0; i < 256; ++i) all.append(char(i));
        QTest::newRow("every byte") << all;
        QByteArray random(64 * 1024, '\0');
        std::mt19937 gen(42);
        for (char &c : random) c = char(gen());
        QTest::newRow("random binary") << random;
        QByteArray longLine(1 << 20, 'x');
        for (int i = 0; i < longLine.size(); i += 7) longLine[i] = ' ';
        QTest::newRow("1 MB line") << longLine;
    }
    void roundTrip() {
        QFETCH(QByteArray, bytes);
        auto w = Loaded(QStringLiteral("round.c"), bytes);
        QVERIFY(w);
        QVERIFY(!w->Changed);
        const QString copy = Path(QStringLiteral("round_copy.c"));
        w->SaveAs(copy);
        QVERIFY(ReadAll(copy) == bytes);
        w->Save();
        QVERIFY(ReadAll(copy) == bytes);
        // Loading the copy gives the same text again.
        const QString text = TextOf(w->RichEdit1);
        w->LoadFile(copy);
        QCOMPARE(TextOf(w->RichEdit1), text);
    }

    void bigFileRoundTrip() {
        // Some megabytes of C with every kind of line end, Japanese text,
        // invalid bytes and NULs load, colour and save back byte for byte.
        QByteArray chunk = Sjis(QStringLiteral("/* 日本語 */ static int f(void) { return 0; } // x\r\n"));
        static const char mixed[] = "int a;\nchar b;\rlong c; \x81\x20 \xff\0;\r\n\r\n";
        chunk += QByteArray(mixed, sizeof mixed - 1);
        QByteArray bytes;
        while (bytes.size() < 4 * 1024 * 1024) bytes += chunk;
        bytes += "last line without a break";
        auto w = Loaded(QStringLiteral("big.c"), bytes);
        QVERIFY(w);
        QString head;
        for (int i = 0; i < 16; ++i) head += edtest::Letter(ColourAt(w->RichEdit1, i));
        QCOMPARE(head, QStringLiteral("GGGGGGGGGBKKKKKK"));
        const QString copy = Path(QStringLiteral("big_copy.c"));
        w->SaveAs(copy);
        QVERIFY(ReadAll(copy) == bytes);
        // An edit at the very end changes only the end.
        SetSelection(w->RichEdit1, TextLength(w->RichEdit1), 0);
        Type(*w, QStringLiteral("!"));
        w->Save();
        QVERIFY(ReadAll(copy) == bytes + "!");
    }

    // The text shows every line break as CR LF, whatever the file holds.
    void lineBreaksReadAsCrLf() {
        auto w = Loaded(QStringLiteral("breaks.c"), "a\nb\rc\r\nd");
        QVERIFY(w);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("a\r\nb\r\nc\r\nd"));
        QCOMPARE(TextLength(w->RichEdit1), 10);
    }

    void typedLinesTakeFilesLineEnd_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("lf") << QByteArray("a\nb\n") << QByteArray("a\nx\nb\n");
        QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nx\r\nb\r\n");
        QTest::newRow("cr") << QByteArray("a\rb\r") << QByteArray("a\rx\rb\r");
        // Mixed: the lines not edited keep their own ends; the typed line takes
        // the file's most common one.
        QTest::newRow("mixed") << QByteArray("a\nb\r\nc\nd") << QByteArray("a\nx\nb\r\nc\nd");
    }
    void typedLinesTakeFilesLineEnd() {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, saved);
        auto w = Loaded(QStringLiteral("ends.c"), bytes);
        QVERIFY(w);
        SetSelection(w->RichEdit1, 1, 0);  // end of the first line
        QTest::keyClick(w->RichEdit1, Qt::Key_Return);
        Type(*w, QStringLiteral("x"));
        w->Save();
        QCOMPARE(ReadAll(w->FileName), saved);
    }

    // Failures: a clear error, nothing lost.
    void loadFailureLeavesDocument_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << QStringLiteral("missing.c");
        QTest::newRow("directory") << QStringLiteral("subdir");
        QTest::newRow("in missing directory") << QStringLiteral("nodir/x.c");
        QTest::newRow("empty path") << QString();
    }
    void loadFailureLeavesDocument() {
        QFETCH(QString, path);
        QDir(Dir.path()).mkpath(QStringLiteral("subdir"));
        const QString full = path.isEmpty() ? path : Path(path);
        auto w = Loaded(QStringLiteral("kept.c"), "int kept;\r\n");
        QVERIFY(w);
        Type(*w, QStringLiteral("q"));
        const QString title = w->windowTitle();
        QCOMPARE(Failure([&] { w->LoadFile(full); }), EQvError::CannotOpen(full).Message);
        QVERIFY(!w->Loading);
        QVERIFY(w->Changed);
        QCOMPARE(w->FileName, Path(QStringLiteral("kept.c")));
        QCOMPARE(w->windowTitle(), title);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("qint kept;\r\n"));
        // The document goes on working.
        Type(*w, QStringLiteral("r"));
        w->Save();
        QCOMPARE(ReadAll(w->FileName), QByteArray("qrint kept;\r\n"));
    }

    void loadUnreadableFile() {
        const QString path = Path(QStringLiteral("secret.c"));
        QVERIFY(WriteAll(path, "x"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        QFile probe(path);
        const bool readable = probe.open(QIODevice::ReadOnly);  // root reads anything
        probe.close();
        TMDIChild w;
        if (readable) {
            w.LoadFile(path);
            QCOMPARE(TextOf(w.RichEdit1), QStringLiteral("x"));
        } else {
            QCOMPARE(Failure([&] { w.LoadFile(path); }), EQvError::CannotOpen(path).Message);
            QVERIFY(w.IsUntitled());
            QVERIFY(!w.Loading);
        }
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void saveFailureKeepsState_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("missing directory") << QStringLiteral("nodir/out.c");
        QTest::newRow("directory as target") << QStringLiteral("outdir");
    }
    void saveFailureKeepsState() {
        QFETCH(QString, target);
        QDir(Dir.path()).mkpath(QStringLiteral("outdir"));
        const QString path = Path(target);
        auto w = Loaded(QStringLiteral("src.c"), "int s;\r\n");
        QVERIFY(w);
        Type(*w, QStringLiteral("e"));
        QCOMPARE(Failure([&] { w->SaveAs(path); }), EQvError::CannotCreate(path).Message);
        QCOMPARE(w->FileName, path);  // already the new path
        QCOMPARE(w->windowTitle(), QStringLiteral("src.c*"));
        QVERIFY(w->Changed);
        QCOMPARE(Failure([&] { w->Save(); }), EQvError::CannotCreate(path).Message);
        QVERIFY(w->Changed);
        QCOMPARE(ReadAll(Path(QStringLiteral("src.c"))), QByteArray("int s;\r\n"));
        QVERIFY(QFileInfo(Path(QStringLiteral("outdir"))).isDir());
        QVERIFY(QDir(Dir.path()).entryList({QStringLiteral("*.new"), QStringLiteral("*~")}).isEmpty());
        // Save As to a good path afterwards writes the text.
        w->SaveAs(Path(QStringLiteral("good.c")));
        QCOMPARE(ReadAll(Path(QStringLiteral("good.c"))), QByteArray("eint s;\r\n"));
        QCOMPARE(Failure([&] { w->SaveAs(QString()); }), EQvError::CannotCreate(QString()).Message);
        QCOMPARE(w->FileName, Path(QStringLiteral("good.c")));
    }

    void unencodableCharacterRefused_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("named");
        QTest::newRow("euro") << QStringLiteral("€") << QStringLiteral("U+20AC");
        QTest::newRow("emoji") << QStringLiteral("\U0001F600") << QStringLiteral("U+1F600");
        QTest::newRow("hangul") << QStringLiteral("한") << QStringLiteral("U+D55C");
    }
    void unencodableCharacterRefused() {
        QFETCH(QString, typed);
        QFETCH(QString, named);
        const QByteArray original("line one\r\nline two\r\n");
        auto w = Loaded(QStringLiteral("enc.c"), original);
        QVERIFY(w);
        SetSelection(w->RichEdit1, 14, 0);  // inside line 2
        w->RichEdit1->insertPlainText(typed);
        const QString message = Failure([&] { w->Save(); });
        QVERIFY2(message.contains(named), qPrintable(message));
        QVERIFY2(message.contains(QStringLiteral("2 行目")), qPrintable(message));
        QVERIFY2(message.contains(w->FileName), qPrintable(message));
        QCOMPARE(ReadAll(w->FileName), original);
        QVERIFY(w->Changed);
        QCOMPARE(w->windowTitle(), QStringLiteral("enc.c*"));
        const QString other = Path(QStringLiteral("enc2.c"));
        QVERIFY(Failure([&] { w->SaveAs(other); }).contains(named));
        QVERIFY(!QFile::exists(other));
        QVERIFY(w->Changed);
    }

    // Closing.
    void closeUnchangedAsksNothing() {
        QPointer<TMDIChild> w = new TMDIChild;
        int asked = 0;
        TMDIChild::AskSaveHook = [&](TMDIChild &) {
            ++asked;
            return int(QMessageBox::Cancel);
        };
        w->show();
        QVERIFY(w->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(w.isNull());
        QCOMPARE(asked, 0);
    }

    void closeChanged_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("saveResult");  // -1: no SaveRequest set
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("saveCalled");
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << 1 << false << false;
        QTest::newRow("discard") << int(QMessageBox::Discard) << 1 << true << false;
        QTest::newRow("save succeeds") << int(QMessageBox::Save) << 1 << true << true;
        QTest::newRow("save cancelled") << int(QMessageBox::Save) << 0 << false << true;
    }
    void closeChanged() {
        QFETCH(int, answer);
        QFETCH(int, saveResult);
        QFETCH(bool, closes);
        QFETCH(bool, saveCalled);
        const QByteArray original("int c;\r\n");
        auto owned = Loaded(QStringLiteral("close.c"), original);
        QVERIFY(owned);
        QPointer<TMDIChild> w = owned.release();
        Type(*w, QStringLiteral("k"));
        QString askedAbout;
        TMDIChild::AskSaveHook = [&](TMDIChild &d) {
            askedAbout = d.windowTitle();
            return answer;
        };
        bool called = false;
        w->SaveRequest = [&](TMDIChild &) {
            called = true;
            return saveResult == 1;
        };
        QCOMPARE(w->close(), closes);
        QCOMPARE(askedAbout, QStringLiteral("close.c*"));
        QCOMPARE(called, saveCalled);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(w.isNull(), closes);
        // The close itself never writes the file.
        QCOMPARE(ReadAll(Path(QStringLiteral("close.c"))), original);
        if (!closes) {
            QVERIFY(w->Changed);
            delete w.data();
        }
    }

    void closeQuestionBox_data() {
        QTest::addColumn<int>("button");
        QTest::newRow("save") << int(QMessageBox::Save);
        QTest::newRow("discard") << int(QMessageBox::Discard);
        QTest::newRow("cancel") << int(QMessageBox::Cancel);
    }
    void closeQuestionBox() {
        // The real box: caption, Japanese question with the short name, and
        // the answer of the button pressed.
        QFETCH(int, button);
        auto w = Loaded(QStringLiteral("ask.c"), "x");
        QVERIFY(w);
        Type(*w, QStringLiteral("y"));
        QString caption, text;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) return;
            caption = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::StandardButton(button))->click();
        });
        QCOMPARE(w->AskSave(), button);
        QCOMPARE(caption, QStringLiteral("Quelvane"));
        QCOMPARE(text, QStringLiteral("ask.c への変更を保存しますか?"));
    }

    void closeSaveWithoutRequest() {
        // With no SaveRequest, Save saves a titled document and closes it.
        auto owned = Loaded(QStringLiteral("plain.c"), "a\n");
        QPointer<TMDIChild> w = owned.release();
        Type(*w, QStringLiteral("b"));
        TMDIChild::AskSaveHook = [](TMDIChild &) { return int(QMessageBox::Save); };
        QVERIFY(w->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(w.isNull());
        QCOMPARE(ReadAll(Path(QStringLiteral("plain.c"))), QByteArray("ba\n"));
        // An untitled one cannot be saved so and stays open.
        QPointer<TMDIChild> u = new TMDIChild;
        u->show();
        Type(*u, QStringLiteral("c"));
        QVERIFY(!u->close());
        QVERIFY(!u.isNull());
        delete u.data();
    }

    // Undo and redo.
    void undoRedoTyping() {
        auto w = Loaded(QStringLiteral("undo.c"), "x;\r\n");
        QVERIFY(w);
        SetSelection(w->RichEdit1, 0, 0);
        const QString before = Mask(w->RichEdit1);
        Type(*w, QStringLiteral("int "));
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int x;\r\n"));
        const QString typed = Mask(w->RichEdit1);
        QCOMPARE(typed.left(3), QStringLiteral("KKK"));
        // Undo until nothing is left to undo: the loaded text and colours return.
        int steps = 0;
        while (w->RichEdit1->document()->isUndoAvailable() && steps < 10) {
            QTest::keyClick(w->RichEdit1, Qt::Key_Z, Qt::ControlModifier);
            ++steps;
        }
        QVERIFY(steps >= 1);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1), before);
        QVERIFY(w->Changed);  // undo is an edit as well
        QCOMPARE(w->windowTitle(), QStringLiteral("undo.c*"));
        // Redo with Ctrl+Y and Ctrl+Shift+Z brings text and colours back.
        for (int i = 0; i < steps; ++i)
            QTest::keyClick(w->RichEdit1, i % 2 ? Qt::Key_Z : Qt::Key_Y,
                            i % 2 ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1), typed);
        QVERIFY(!w->RichEdit1->document()->isRedoAvailable());
    }

    void undoRevertsTextWithItsColour() {
        // One undo step takes back a keystroke and the colouring it caused.
        auto w = Loaded(QStringLiteral("undo2.c"), "in x;\r\n");
        QVERIFY(w);
        SetSelection(w->RichEdit1, 2, 0);
        Type(*w, QStringLiteral("t"));
        QCOMPARE(Mask(w->RichEdit1).left(3), QStringLiteral("KKK"));
        w->Undo();
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("in x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1).left(2), QStringLiteral("BB"));
        w->Redo();
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("int x;\r\n"));
        QCOMPARE(Mask(w->RichEdit1).left(3), QStringLiteral("KKK"));
    }

    void editingKeysReachTheText() {
        auto w = Loaded(QStringLiteral("keys.c"), "abc\r\n");
        QVERIFY(w);
        SetSelection(w->RichEdit1, 0, 0);
        QTest::keyClick(w->RichEdit1, Qt::Key_Delete);
        QCOMPARE(TextOf(w->RichEdit1), QStringLiteral("bc\r\n"));
        QTest::keyClick(w->RichEdit1, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(SelStart(w->RichEdit1), 0);
        QCOMPARE(SelLength(w->RichEdit1), 4);
    }
};

QTEST_MAIN(TestChildWin)
#include "tst_childwin.moc"
