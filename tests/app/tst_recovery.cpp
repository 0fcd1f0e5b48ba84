// Unsaved edits kept on disk: a killed instance's edit survives byte for byte
// and is offered to the next start only, the files follow the documents'
// unsaved state, damaged files and an unusable folder disturb nothing, and
// hostile surroundings (limits, a full disk, other users' folders and files)
// neither end the program nor hand the user anything that is not theirs.
#include "childwin.h"
#include "errorreport.h"
#include "compilecontrol.h"
#include "documents.h"
#include "mainform.h"
#include "searchcontrol.h"
#include "modal.h"
#include "recovery.h"
#include "sourcetext.h"
#include "textpos.h"
#include "../testfiles.h"
#include "../testmain.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QElapsedTimer>
#include <QTest>

#include <deque>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers the next modal dialog as soon as it shows, active or not (the
// recovery dialog may come up before the main window has the focus); one left
// open after 10 s is closed (as Later), so a wrong dialog fails a test instead
// of hanging it.
void AnswerWhenShown(QObject *context, std::function<void(QDialog &)> answer) {
    auto *poll = new QTimer(context);
    QObject::connect(poll, &QTimer::timeout, context, [poll, answer] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!d || !d->isVisible()) return;
        poll->deleteLater();
        answer(*d);
    });
    poll->start(10);
    QTimer::singleShot(10000, context, [] {
        if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) d->reject();
    });
}

void Click(QDialog &d, const char *button) {
    auto *b = d.findChild<QPushButton *>(QLatin1String(button));
    QVERIFY(b);
    b->click();
}

QByteArray Bytes(TMDIChild *doc) {
    QByteArray out;
    QString why;
    sourcetext::Encode(doc->RichEdit1->Text(), doc->DefaultLineEnd, out, &why);
    return out;
}

int Mode(const QString &path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

const TRecovery::Timing Fast{20, 100, 50};
// Writes at the first turn of the event loop after an edit.
const TRecovery::Timing Now{0, 0, 50};

// What was edited so far reaches the recovery files: the event loop turns
// (with Now, the writes are asked for then), the writer finishes, and what
// it reported is taken in.
void Settle(TRecovery &r) {
    QCoreApplication::processEvents();
    r.Flush();
    QCoreApplication::processEvents();
}

// A file as an instance leaves it: written, then given its owner and mode.
bool Plant(const QString &path, const QByteArray &bytes, uid_t owner = ::geteuid(), int mode = 0600) {
    return qvtest::WriteFile(path, bytes) && ::chown(QFile::encodeName(path).constData(), owner, owner) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

bool MakeDir(const QString &path, uid_t owner, int mode) {
    return QDir().mkpath(path) && ::chown(QFile::encodeName(path).constData(), owner, owner) == 0 &&
           ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

// A recovery file of `path` holding `bytes`, last changed at `ms` (since 1970).
QByteArray KeptAt(const QString &path, const QByteArray &bytes, qint64 ms) {
    return recovery::Header(recovery::Entry{QString(), path, QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC), 0, bytes}) + bytes;
}

QByteArray Kept(const QString &path, const QByteArray &bytes) {
    return recovery::Header(recovery::Entry{QString(), path, QDateTime::fromMSecsSinceEpoch(1700000000000, Qt::UTC), 0, bytes}) +
           bytes;
}

// The sanitizer's shadow memory takes no address-space limit.
const bool kSanitized = QV_ADDRESS_SANITIZER;

}  // namespace

class TstRecovery : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir;
    QStringList reports, warnings;
    int saveAnswer = QMessageBox::Cancel;
    std::unique_ptr<qvtest::MessageBoxAnswers> boxes;
    // The questions about files changed elsewhere, by the box's name; each
    // takes the next of diskAnswers.
    QStringList questions;
    std::deque<int> diskAnswers;

    QString folder() const { return dir->filePath(QStringLiteral("state/quelvane/recovery")); }

    // The recovery files in the folder: (document path, bytes) each.
    QList<QPair<QString, QByteArray>> kept() const {
        QList<QPair<QString, QByteArray>> out;
        for (const QString &name : QDir(folder()).entryList({QStringLiteral("*.qvr")}, QDir::Files | QDir::Hidden)) {
            recovery::Entry e;
            if (!recovery::Parse(qvtest::ReadFile(folder() + QLatin1Char('/') + name), e)) {
                out << qMakePair(QStringLiteral("<damaged %1>").arg(name), QByteArray());
                continue;
            }
            out << qMakePair(e.Path, e.Bytes);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    // The user goes to another program and comes back to the main window.
    static void comeBack(TMainForm &form) {
        QCoreApplication::processEvents();  // what the last activation set off
        {
            QWidget other;
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
        }
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QCoreApplication::processEvents();
    }

private slots:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(dir->path()));
        reports.clear();
        warnings.clear();
        saveAnswer = QMessageBox::Cancel;
        // Error reports are collected; a save question takes saveAnswer.
        questions.clear();
        diskAnswers.clear();
        boxes = std::make_unique<qvtest::MessageBoxAnswers>([this](QMessageBox &box) {
            if (box.objectName() == QLatin1String("ReloadQuestion") || box.objectName() == QLatin1String("OverwriteQuestion")) {
                questions << box.objectName();
                const int a = diskAnswers.empty() ? int(QMessageBox::No) : diskAnswers.front();
                if (!diskAnswers.empty()) diskAnswers.pop_front();
                return QMessageBox::StandardButton(a);
            }
            if (box.objectName() == QLatin1String("RecoveryOff")) {
                warnings << box.text();
                return QMessageBox::Ok;
            }
            if (box.icon() != QMessageBox::Critical) return QMessageBox::StandardButton(saveAnswer);
            reports << qvtest::ReportMessage(box);
            return QMessageBox::Ok;
        });
    }
    void cleanup() { boxes.reset(); }

    void defaultFolder() {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/x/state");
        QCOMPARE(recovery::DefaultFolder(), QStringLiteral("/x/state/quelvane/recovery"));
        qputenv("XDG_STATE_HOME", "relative/state");  // not absolute: ignored
        QCOMPARE(recovery::DefaultFolder(), QDir::homePath() + QStringLiteral("/.local/state/quelvane/recovery"));
        qunsetenv("XDG_STATE_HOME");
        QCOMPARE(recovery::DefaultFolder(), QDir::homePath() + QStringLiteral("/.local/state/quelvane/recovery"));
        if (!saved.isNull()) qputenv("XDG_STATE_HOME", saved);
    }

    // A real instance types into a file, writes its recovery file and is killed
    // with SIGKILL: a second instance started while it ran was offered nothing;
    // the next start offers the edit, restores it byte for byte, and saving it
    // removes the file.
    void killedInstanceIsRestored() {
        // Mixed line ends, a double-byte character, an invalid byte, no final line end.
        const QByteArray original("int main(void)\r\n{\n\x82\xa0 \xff x;\r}");
        const QString source = dir->filePath(QStringLiteral("main.c"));
        QVERIFY(qvtest::WriteFile(source, original));
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0755) == 0);  // narrowed on the first write
        const QByteArray expected = QByteArray("x=1;\r\n") + original;

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), dir->filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.start(QStringLiteral(QV_RECOVERY_CHILD), {QStringLiteral("edit"), source, QStringLiteral("x=1;|")});
        QVERIFY(child.waitForStarted());
        QByteArray out;
        while (!out.contains('\n') && child.state() == QProcess::Running) {
            child.waitForReadyRead(30000);
            out += child.readAllStandardOutput();
        }
        QVERIFY2(out.startsWith("ready "), out.constData());
        const QString file = QFile::decodeName(out.mid(6).trimmed());

        {
            // A second instance while the first runs: nothing to offer.
            TMainForm other;
            other.Recovery = std::make_unique<TRecovery>(*other.Docs, folder(), Fast);
            AnswerWhenShown(&other, [](QDialog &d) { Click(d, "Later"); });
            QCOMPARE(other.Recovery->OfferLeftovers(), TRecovery::Nothing);
            QVERIFY(QFile::exists(file));
        }
        // The running instance's lock is its own still.
        const QString lock = folder() + QLatin1Char('/') + QFileInfo(file).fileName().section(QLatin1Char('.'), 0, 0) +
                             QStringLiteral(".lock");
        QVERIFY(QFile::exists(lock));

        child.kill();  // SIGKILL
        QVERIFY(child.waitForFinished());
        recovery::Entry e;
        QVERIFY(recovery::Parse(qvtest::ReadFile(file), e));
        QCOMPARE(e.Path, source);
        QCOMPARE(e.Bytes, expected);
        QCOMPARE(Mode(folder()), 0700);
        QCOMPARE(Mode(file), 0600);
        QCOMPARE(qvtest::ReadFile(source), original);

        // The next start: one dialog listing the document, Restore.
        TMainForm form;
        form.show();
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        QStringList listed;
        AnswerWhenShown(&form, [&](QDialog &d) {
            const auto *list = d.findChild<QTreeWidget *>(QStringLiteral("Documents"));
            for (int i = 0; list && i < list->topLevelItemCount(); ++i) listed << list->topLevelItem(i)->text(0);
            Click(d, "Restore");
        });
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Restore);
        QCOMPARE(listed, QStringList{source});
        QCOMPARE(form.MDIChildCount(), 1);
        TMDIChild *doc = form.MDIChildren(0);
        QCOMPARE(doc->FileName, source);
        QVERIFY(doc->Changed);
        QCOMPARE(doc->windowTitle(), QStringLiteral("main.c*"));
        QCOMPARE(Bytes(doc), expected);
        // The old instance's file became this one's; its lock, guarding
        // nothing now, is gone with it.
        QVERIFY(!QFile::exists(file));
        QVERIFY(!QFile::exists(lock));
        QCOMPARE(kept(), (QList<QPair<QString, QByteArray>>{{source, expected}}));
        QVERIFY(QFile::exists(form.Recovery->FileOf(doc)));

        doc->Save();
        QCOMPARE(qvtest::ReadFile(source), expected);
        form.Recovery->Flush();
        QVERIFY(kept().isEmpty());
    }

    // The files follow the documents through random edits, undos, saves, closes
    // and new documents: after every step the folder holds exactly the bytes and
    // paths of the documents with unsaved changes.
    void filesFollowTheUnsavedState() {
        QRandomGenerator rng(1601);
        TMainForm form;
        form.show();
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Now);
        TRecovery &r = *form.Recovery;
        int &answer = saveAnswer;
        answer = QMessageBox::Discard;
        for (int i = 0; i < 3; ++i)
            QVERIFY(qvtest::WriteFile(dir->filePath(QStringLiteral("f%1.c").arg(i)), "a\r\nb\n\xff\rc\x82\xa0"));
        for (int step = 0; step < 160; ++step) {
            const int n = form.MDIChildCount();
            TMDIChild *doc = n ? form.MDIChildren(int(rng.bounded(n))) : nullptr;
            const int op = doc ? int(rng.bounded(9)) : 0;
            switch (op) {
            case 0: form.FileNewItemClick(); break;
            case 1: form.OpenDocument(dir->filePath(QStringLiteral("f%1.c").arg(rng.bounded(3)))); break;
            case 2: case 3:
                doc->RichEdit1->setFocus();
                QTest::keyClick(doc->RichEdit1, rng.bounded(4) == 0 ? Qt::Key_Return : Qt::Key_Z);
                break;
            case 4: doc->Undo(); break;
            case 5: doc->Redo(); break;
            case 6:
                if (doc->IsUntitled()) doc->SaveAs(dir->filePath(QStringLiteral("u%1.c").arg(step)));
                else doc->Save();
                break;
            case 7:
                answer = doc->IsUntitled() || rng.bounded(2) ? QMessageBox::Discard : QMessageBox::Save;
                doc->close();
                QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                break;
            case 8: QTest::qWait(int(rng.bounded(40))); break;  // the writer and the timers go on meanwhile
            }
            if (rng.bounded(2)) QCoreApplication::processEvents();  // a turn more changes nothing
            Settle(r);
            QList<QPair<QString, QByteArray>> model;
            for (int i = 0; i < form.MDIChildCount(); ++i) {
                TMDIChild *d = form.MDIChildren(i);
                const TRichEdit *t = d->RichEdit1;
                if (d->Changed && t->isModified() && !(d->IsUntitled() && TextLength(t) == 0))
                    model << qMakePair(d->FileName, Bytes(d));
            }
            std::sort(model.begin(), model.end());
            QCOMPARE(kept(), model);
        }
        // Closing the main window (every changed document discarded) leaves nothing.
        answer = QMessageBox::Discard;
        QVERIFY(form.close());
        r.Flush();
        QVERIFY(kept().isEmpty());
    }

    // Editing on without a pause as long as the delay: the edits are written
    // once the longest wait has passed, while the typing goes on.
    void editsWithoutAPauseAreWrittenAtTheLongest() {
        TMainForm form;
        form.show();
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        form.FileNewItemClick();
        TMDIChild *busy = form.ActiveMDIChild();
        QElapsedTimer typing;
        typing.start();
        bool written = false;
        while (!written && typing.elapsed() < 20 * Fast.Longest) {
            QTest::keyClick(busy->RichEdit1, Qt::Key_X);
            QTest::qWait(Fast.Delay / 4);
            written = QFile::exists(form.Recovery->FileOf(busy));
        }
        QVERIFY(written);
        saveAnswer = QMessageBox::Discard;
        QVERIFY(form.close());
        form.Recovery->Flush();
        QVERIFY(kept().isEmpty());
    }

    // A window that goes without being closed (the main window destroyed) keeps
    // its file; the next start may discard it, or keep it for later.
    void laterKeepsDiscardRemoves() {
        const auto leave = [this](const QByteArray &text) {
            TMainForm form;
            form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Now);
            form.FileNewItemClick();
            form.MDIChildren(0)->RichEdit1->setFocus();
            QTest::keyClicks(form.MDIChildren(0)->RichEdit1, QString::fromLatin1(text));
            Settle(*form.Recovery);
        };
        leave("one");
        leave("two");
        const QList<QPair<QString, QByteArray>> both{{QString(), "one"}, {QString(), "two"}};
        QCOMPARE(kept(), both);
        for (const char *button : {"Later", "Discard"}) {
            TMainForm form;
            form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
            int rows = 0;
            AnswerWhenShown(&form, [&](QDialog &d) {
                rows = d.findChild<QTreeWidget *>(QStringLiteral("Documents"))->topLevelItemCount();
                Click(d, button);
            });
            QCOMPARE(form.Recovery->OfferLeftovers(),
                     QByteArray(button) == "Later" ? TRecovery::Later : TRecovery::Discard);
            QCOMPARE(rows, 2);
            QCOMPARE(form.MDIChildCount(), 0);
            const QList<QPair<QString, QByteArray>> left = QByteArray(button) == "Later" ? both : QList<QPair<QString, QByteArray>>();
            QCOMPARE(kept(), left);
            // Discarded: the ended instances' locks go with their files.
            if (left.isEmpty()) QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        // Nothing left: no dialog, and the lock files of ended instances are gone.
        TMainForm form;
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Nothing);
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Restored edits were made on the file as it was then: a change another
    // program made to it since is asked about when the window is next
    // activated (No keeps the edits) and again by Save before it writes over
    // it. Unchanged, nothing is asked. A recovery file that has no record of
    // the file (one kept before there was any) takes the file as it is.
    void restoredEditsMeetAChangedFile_data() {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<bool>("record");
        QTest::addColumn<QStringList>("asked");
        const QStringList both{QStringLiteral("ReloadQuestion"), QStringLiteral("OverwriteQuestion")};
        QTest::newRow("unchanged") << false << true << QStringList();
        QTest::newRow("changed elsewhere") << true << true << both;
        QTest::newRow("changed, no record") << true << false << QStringList();
    }
    void restoredEditsMeetAChangedFile() {
        QFETCH(bool, changed);
        QFETCH(bool, record);
        QFETCH(QStringList, asked);
        const QString source = dir->filePath(QStringLiteral("main.c"));
        QVERIFY(qvtest::WriteFile(source, "int a;\n"));
        {
            TMainForm form;
            form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Now);
            form.OpenDocument(source);
            QTest::keyClicks(form.ActiveMDIChild()->RichEdit1, QStringLiteral("x"));
            Settle(*form.Recovery);
        }
        const QString file = QDir(folder()).entryInfoList({QStringLiteral("*.qvr")}).value(0).filePath();
        recovery::Entry e;
        QVERIFY(recovery::Parse(qvtest::ReadFile(file), e));
        QCOMPARE(e.Disk.isEmpty(), false);
        if (!record) {
            e.Disk.clear();
            QVERIFY(Plant(file, recovery::Header(e) + e.Bytes));
        }
        if (changed) {
            // Another program writes the file (the same size, a time of its own).
            QVERIFY(qvtest::WriteFile(source, "int b;\n"));
            const struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(source).constData(), times, 0), 0);
        }
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        AnswerWhenShown(&form, [](QDialog &d) { Click(d, "Restore"); });
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Restore);
        TMDIChild *doc = form.ActiveMDIChild();
        QVERIFY(doc);
        // The user goes to another program and comes back: No keeps the edits.
        diskAnswers = {QMessageBox::No, QMessageBox::Yes};
        comeBack(form);
        QCOMPARE(questions, asked.mid(0, 1));
        QCOMPARE(doc->RichEdit1->toPlainText(), QStringLiteral("xint a;\n"));
        form.FileSaveItem->trigger();
        QCOMPARE(questions, asked);
        QCOMPARE(qvtest::ReadFile(source), QByteArray("xint a;\n"));
        QVERIFY(!doc->Changed);
    }

    // A document whose file another program removed holds the only copy of
    // its text: it is kept like unsaved edits, until Save writes the file again.
    void aDocumentWhoseFileWentIsKept() {
        const QString source = dir->filePath(QStringLiteral("gone.c"));
        QVERIFY(qvtest::WriteFile(source, "int g;\r\n"));
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        form.OpenDocument(source);
        QVERIFY(QFile::remove(source));
        comeBack(form);
        QTRY_COMPARE(kept(), (QList<QPair<QString, QByteArray>>{{source, "int g;\r\n"}}));
        form.FileSaveItem->trigger();
        QCOMPARE(qvtest::ReadFile(source), QByteArray("int g;\r\n"));
        QTRY_VERIFY(kept().isEmpty());
    }

    // Files that are no complete recovery file are not offered and stay; a
    // good one beside them is offered.
    void damagedFilesStay_data() {
        QTest::addColumn<QByteArray>("content");
        const QByteArray good = recovery::Header(recovery::Entry{QString(), QStringLiteral("/a.c"), QDateTime::currentDateTimeUtc(), 0, "xy"}) + "xy";
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("other magic") << QByteArray(good).replace("QVRECOVER 1", "QVRECOVER 2");
        QTest::newRow("cut short") << good.left(good.size() - 1);
        QTest::newRow("longer") << good + "z";
        QTest::newRow("line end 3") << QByteArray(good).replace("lineend 0", "lineend 3");
        QTest::newRow("no size") << QByteArray(good).replace("size 2\n", "");
        QTest::newRow("bad time") << QByteArray(good).replace("changed ", "changed x");
        QTest::newRow("header only") << good.left(good.indexOf("\n\n"));
        QTest::newRow("size with a sign") << QByteArray(good).replace("size 2", "size +2");
        QTest::newRow("size with a blank") << QByteArray(good).replace("size 2", "size  2");
        QTest::newRow("time with a blank after") << QByteArray(good).replace("\nlineend", " \nlineend");
        QTest::newRow("path with a NUL") << QByteArray(good).replace("path /a.c", "path /a%00.c");
        QTest::newRow("disk with a letter") << QByteArray(good).replace("size 2", "disk 2 1 1 7 5 x\nsize 2");
        QTest::newRow("disk of five numbers") << QByteArray(good).replace("size 2", "disk 2 1 1 7 5\nsize 2");
        QTest::newRow("disk after the size") << QByteArray(good).replace("size 2\n", "size 2\ndisk 2 1 1 7 5 0\n");
        // The size still matches the bytes after the header's end.
        QTest::newRow("blank line another byte") << QByteArray(good).replace("size 2\n\n", "size 2\nx");
        QTest::newRow("blank line a CR") << QByteArray(good).replace("size 2\n\n", "size 2\n\r");
    }
    void damagedFilesStay() {
        QFETCH(QByteArray, content);
        QVERIFY(recovery::PrepareFolder(folder(), nullptr));
        const QString bad = folder() + QStringLiteral("/9-dead.1.qvr");
        QVERIFY(Plant(bad, content));
        TMainForm form;
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        {
            QObject offerNothing;  // a dialog shown by mistake ends at once
            AnswerWhenShown(&offerNothing, [](QDialog &d) { Click(d, "Later"); });
            QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Nothing);
        }
        QVERIFY(form.StatusText().contains(bad));
        QCOMPARE(qvtest::ReadFile(bad), content);
        const QByteArray good = recovery::Header(recovery::Entry{QString(), QString(), QDateTime::currentDateTimeUtc(), 1, "ok\n"}) + "ok\n";
        QVERIFY(Plant(folder() + QStringLiteral("/9-dead.2.qvr"), good));
        AnswerWhenShown(&form, [](QDialog &d) { Click(d, "Restore"); });
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Restore);
        QCOMPARE(form.MDIChildCount(), 1);
        QCOMPARE(form.MDIChildren(0)->RichEdit1->toPlainText(), QStringLiteral("ok\n"));
        QCOMPARE(form.MDIChildren(0)->DefaultLineEnd, textstore::Lf);
        QCOMPARE(qvtest::ReadFile(bad), content);
    }

    // A temporary file beside a recovery file (a write cut short, or one that
    // never got its name): the newest complete copy is offered, once and
    // under the file's name; the others go at once, and after Discard, or
    // after Restore and a discarded window, nothing of the document is
    // offered again.
    void aLeftoverTemporaryIsNeverOfferedAgain_data() {
        QTest::addColumn<QByteArray>("temporary");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("restored");
        const QString source = QStringLiteral("/w/main.c");
        const QByteArray older = KeptAt(source, "older\n", 1700000000000), newer = KeptAt(source, "newer\n", 1700000009000);
        for (const char *answer : {"Discard", "Restore"}) {
            const QString a = QString::fromLatin1(answer);
            QTest::addRow("half-written, %s", answer) << newer.chopped(2) << a << QByteArray("kept\n");
            QTest::addRow("complete and older, %s", answer) << older << a << QByteArray("kept\n");
            QTest::addRow("complete and newer, %s", answer) << newer << a << QByteArray("newer\n");
        }
    }
    void aLeftoverTemporaryIsNeverOfferedAgain() {
        QFETCH(QByteArray, temporary);
        QFETCH(QString, answer);
        QFETCH(QByteArray, restored);
        QVERIFY(recovery::PrepareFolder(folder(), nullptr));
        QVERIFY(Plant(folder() + QStringLiteral("/9-dead.1.qvr"), KeptAt(QStringLiteral("/w/main.c"), "kept\n", 1700000005000)));
        QVERIFY(Plant(folder() + QStringLiteral("/.9-dead.1.qvr.abc"), temporary));
        {
            TMainForm form;
            form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
            int rows = 0;
            AnswerWhenShown(&form, [&](QDialog &d) {
                rows = d.findChild<QTreeWidget *>(QStringLiteral("Documents"))->topLevelItemCount();
                Click(d, answer.toLatin1().constData());
            });
            QCOMPARE(form.Recovery->OfferLeftovers(), answer == QLatin1String("Restore") ? TRecovery::Restore : TRecovery::Discard);
            QCOMPARE(rows, 1);
            if (answer == QLatin1String("Restore")) {
                QCOMPARE(form.MDIChildCount(), 1);
                QCOMPARE(Bytes(form.MDIChildren(0)), restored);
                saveAnswer = QMessageBox::Discard;
                QVERIFY(form.close());
            }
            form.Recovery->Flush();
        }
        QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        TMainForm next;
        next.Recovery = std::make_unique<TRecovery>(*next.Docs, folder(), Fast);
        QObject offerNothing;  // a dialog shown by mistake ends at once
        AnswerWhenShown(&offerNothing, [](QDialog &d) { Click(d, "Later"); });
        QCOMPARE(next.Recovery->OfferLeftovers(), TRecovery::Nothing);
    }

    // The start-up note naming what was left alone stays while the pointer
    // moves over the window's controls, until something else is shown: a
    // menu's hint replaces it, and that hint goes when the pointer moves on.
    void startUpNoteStays() {
        QVERIFY(recovery::PrepareFolder(folder(), nullptr));
        const QString bad = folder() + QStringLiteral("/9-dead.1.qvr");
        QVERIFY(Plant(bad, "damaged"));
        TMainForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Fast);
        form.FileNewItemClick();
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Nothing);
        const QString note = form.StatusText();
        QVERIFY(note.contains(bad));
        for (QWidget *w : std::initializer_list<QWidget *>{form.OpenBtn, form.TreeView1->viewport(), form.Output,
                                                           form.ActiveMDIChild()->RichEdit1->viewport(), form.TabSet1}) {
            QTest::mouseMove(w, w->rect().center());
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QApplication::sendEvent(w, &enter);
            QCOMPARE(form.StatusText(), note);
        }
        form.MainMenu1->setActiveAction(form.File1->menuAction());
        QTRY_VERIFY(form.File1->isVisible());
        form.File1->setActiveAction(form.FileOpenItem);
        QCOMPARE(form.StatusText(), QStringLiteral("既存のﾌｧｲﾙを開く"));
        form.File1->close();
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(form.OpenBtn, &enter);
        QCOMPARE(form.StatusText(), QString());
    }

    // A character that Shift-JIS cannot hold: Save could not write the text,
    // so the last file written stays, with one note and no retry.
    void textThatCannotBeKept() {
        TMainForm form;
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Now);
        QStringList notes;
        connect(form.StatusBar, &QStatusBar::messageChanged, this, [&notes](const QString &m) {
            if (!m.isEmpty()) notes << m;
        });
        form.FileNewItemClick();
        TMDIChild *doc = form.MDIChildren(0);
        doc->RichEdit1->setFocus();
        QTest::keyClicks(doc->RichEdit1, QStringLiteral("ok"));
        Settle(*form.Recovery);
        doc->RichEdit1->insertPlainText(QStringLiteral("\u00e9"));
        Settle(*form.Recovery);
        QTRY_COMPARE(notes.size(), 1);
        QVERIFY2(notes[0].startsWith(QStringLiteral("復元用ファイルを更新できません")), qPrintable(notes[0]));
        QTest::qWait(200);  // no retry of its own
        QCOMPARE(notes.size(), 1);
        QCOMPARE(kept(), (QList<QPair<QString, QByteArray>>{{QString(), "ok"}}));
        QTest::keyClick(doc->RichEdit1, Qt::Key_Backspace);
        QTRY_COMPARE(kept(), (QList<QPair<QString, QByteArray>>{{QString(), "ok"}}));
        QTest::keyClick(doc->RichEdit1, Qt::Key_Return);
        QTRY_COMPARE(kept(), (QList<QPair<QString, QByteArray>>{{QString(), "ok\r\n"}}));
    }

    // A recovery folder that cannot be used: editing and saving go on, one note
    // in the status line, no temporary file stays, and the write succeeds once
    // the folder can be used: at the next edit, or with none at the retry.
    void unusableFolder_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("edit");  // an edit comes before the folder is mended
        QTest::newRow("a file in the way") << "file" << true;
        QTest::newRow("a file in the way, the retry alone writes") << "file" << false;
        QTest::newRow("a symbolic link") << "link" << true;
        if (::geteuid() == 0)
            QTest::newRow("another user's folder") << "owner" << true;
        else
            QTest::newRow("not writable") << "mode" << true;
        QTest::newRow("file-size limit, the retry alone writes") << "fsize" << false;
    }
    void unusableFolder() {
        QFETCH(QString, how);
        QFETCH(bool, edit);
        const QString parent = dir->filePath(QStringLiteral("state/quelvane"));
        QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("state"))));
        QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("elsewhere"))));
        if (how == "file") {
            QVERIFY(qvtest::WriteFile(parent, "x"));
        } else {
            QVERIFY(QDir().mkpath(parent));
            if (how == "link") {
                QVERIFY(QFile::link(dir->filePath(QStringLiteral("elsewhere")), folder()));
            } else {
                QVERIFY(QDir().mkpath(folder()));
                if (how == "owner") QVERIFY(::chown(QFile::encodeName(folder()).constData(), 65534, 65534) == 0);
                if (how == "mode") QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0500) == 0);
            }
        }
        std::unique_ptr<qvtest::FileSizeLimit> limit;  // the recovery file's header is longer
        if (how == "fsize") limit = std::make_unique<qvtest::FileSizeLimit>(32);
        TMainForm form;
        form.show();
        form.Recovery = std::make_unique<TRecovery>(*form.Docs, folder(), Now);
        QStringList notes;
        connect(form.StatusBar, &QStatusBar::messageChanged, this, [&notes](const QString &m) {
            if (!m.isEmpty()) notes << m;
        });
        QCOMPARE(form.Recovery->OfferLeftovers(), TRecovery::Nothing);
        const QString source = dir->filePath(QStringLiteral("m.c"));
        QVERIFY(qvtest::WriteFile(source, "int x;\n"));
        form.OpenDocument(source);
        TMDIChild *doc = form.MDIChildren(0);
        doc->RichEdit1->setFocus();
        QTest::keyClicks(doc->RichEdit1, QStringLiteral("ab"));
        Settle(*form.Recovery);
        QTRY_COMPARE(notes.size(), 1);
        // A folder that fails the checks is named at start-up; one that only
        // refuses the write, at the write.
        QVERIFY2(notes[0].startsWith(how == "mode" || how == "fsize" ? QStringLiteral("復元用ファイルを書き込めません")
                                                   : QStringLiteral("復元用フォルダを使えません")),
                 qPrintable(notes[0]));
        QVERIFY(!form.Recovery->Indicator->isHidden());
        QVERIFY(!form.Recovery->Indicator->toolTip().isEmpty());
        // Further failures add no note and no message box.
        QTest::keyClicks(doc->RichEdit1, QStringLiteral("c"));
        Settle(*form.Recovery);
        QTest::qWait(150);  // past a retry too
        QCOMPARE(notes.size(), 1);
        QCOMPARE(warnings.size(), 1);
        QVERIFY(!form.Recovery->Indicator->isHidden());
        QCOMPARE(doc->RichEdit1->toPlainText(), QStringLiteral("abcint x;\n"));
        QVERIFY(QDir(dir->filePath(QStringLiteral("elsewhere"))).isEmpty());
        QCOMPARE(QDir(folder()).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden), QStringList());
        doc->Save();
        QVERIFY(reports.isEmpty());
        QCOMPARE(qvtest::ReadFile(source), QByteArray("abcint x;\n"));
        QTest::keyClicks(doc->RichEdit1, QStringLiteral("d"));
        if (!edit) {  // that write fails too; the retry is all that is left
            Settle(*form.Recovery);
        }
        // Once the folder can be used, the next attempt writes.
        limit.reset();
        if (how == "file") QVERIFY(QFile::remove(parent));
        if (how == "link") QVERIFY(QFile::remove(folder()));
        if (how == "owner") QVERIFY(::chown(QFile::encodeName(folder()).constData(), ::geteuid(), ::getegid()) == 0);
        if (how == "mode") QVERIFY(::chmod(QFile::encodeName(folder()).constData(), 0700) == 0);
        // However many writes failed, the retry comes after Timing::Retry (50 ms here).
        QTRY_COMPARE_WITH_TIMEOUT(kept(), (QList<QPair<QString, QByteArray>>{{source, "abcdint x;\n"}}), 1000);
        QTRY_VERIFY(form.Recovery->Indicator->isHidden());
        QCOMPARE(warnings.size(), 1);
    }

    // A real instance among hostile surroundings. When the tests run as root it
    // runs as an ordinary user (kUser) through setpriv, and the other user is
    // kOther; rows that need another user or a mount are skipped otherwise.
    // Each row: what was offered, what the user saw, whether recovery shows as
    // off, the folder's names afterwards (planted files keep their bytes), the
    // windows left and main.c's bytes after 上書き保存 in each of them.
    void hostileSurroundings_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("offered");
        QTest::addColumn<QString>("seen");
        QTest::addColumn<bool>("off");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("windows");
        QTest::addColumn<bool>("restored");  // main.c holds the restored text afterwards
        const QString id = QStringLiteral("<id>");
        QTest::newRow("file-size limit") << "fsize" << QStringList() << "File too large" << true
                                         << QStringList{id + ".lock"} << QStringList() << false;
        QTest::newRow("full file system") << "full" << QStringList() << "No space left" << true
                                          << QStringList{id + ".lock"} << QStringList() << false;
        QTest::newRow("2 GiB file") << "huge" << QStringList{"main.c"} << "" << false
                                    << QStringList{"9-dead.1.qvr", "9-dead.lock"} << QStringList() << false;
        QTest::newRow("memory limit") << "memory" << QStringList() << "大きすぎる" << false
                                      << QStringList{"9-dead.1.qvr", "9-dead.lock"} << QStringList() << false;
        QTest::newRow("restore that fails") << "tight" << QStringList{"main.c"} << "メモリが足りない" << false
                                            << QStringList{"9-dead.1.qvr", "9-dead.lock"} << QStringList() << false;
        QTest::newRow("folder is a link") << "link" << QStringList() << "シンボリックリンク" << true
                                          << QStringList{"9-dead.1.qvr"} << QStringList() << false;
        QTest::newRow("another user's open folder") << "owner" << QStringList() << "所有者が別" << true
                                                    << QStringList{"9-dead.1.qvr"} << QStringList() << false;
        QTest::newRow("wider modes") << "modes" << QStringList{"main.c"} << "権限が 0644" << false
                                     << QStringList{"9-dead.2.qvr", "9-dead.lock"} << QStringList{"main.c\t1"} << true;
        QTest::newRow("planted file of another user") << "planted" << QStringList{"main.c"} << "自分のものでない" << false
                                                      << QStringList{"9-dead.2.qvr", "9-dead.lock"} << QStringList() << false;
        QTest::newRow("temporary files") << "temporary" << QStringList{"main.c"} << ".9-dead.1.qvr.abc" << false
                                         << QStringList{".9-dead.1.qvr.abc", "9-dead.2.qvr", "9-dead.lock"}
                                         << QStringList() << false;
    }
    void hostileSurroundings() {
        QFETCH(QString, how);
        QFETCH(QStringList, offered);
        QFETCH(QString, seen);
        QFETCH(bool, off);
        QFETCH(QStringList, names);
        QFETCH(QStringList, windows);
        QFETCH(bool, restored);
        const bool root = ::geteuid() == 0;
        const uid_t kUser = root ? 4242 : ::geteuid(), kOther = 4343;
        if (!root && QStringList{"full", "link", "owner", "planted"}.contains(how)) QSKIP("needs root: another user or a mount");
        if (kSanitized && (how == "memory" || how == "tight")) QSKIP("an address-space limit under the sanitizer");
        QVERIFY(::chmod(QFile::encodeName(dir->path()).constData(), 0755) == 0);
        const QString home = dir->filePath(QStringLiteral("home")), state = home + QStringLiteral("/state");
        const QString recovery = state + QStringLiteral("/quelvane/recovery");
        const QString source = home + QStringLiteral("/main.c"), profile = home + QStringLiteral("/.profile");
        const QByteArray original = "int main;\n" + QByteArray(20000, ' ') + '\n';
        QVERIFY(MakeDir(home, kUser, 0755));
        QVERIFY(MakeDir(state + QStringLiteral("/quelvane"), kUser, 0700));
        QVERIFY(MakeDir(state, kUser, 0700));
        QVERIFY(Plant(source, original, kUser, 0644));
        QVERIFY(Plant(profile, "safe\n", kUser, 0644));
        const QByteArray mine = "restored\r\n";
        std::map<QString, QByteArray> planted;  // name in the folder: bytes
        QString listed = recovery;              // the folder whose names are checked
        const auto plant = [&](const QString &name, const QByteArray &bytes, uid_t owner, int mode) {
            planted[name] = bytes;
            return Plant(listed + QLatin1Char('/') + name, bytes, owner, mode);
        };
        struct Unmount {
            QString At;
            ~Unmount() {
                if (!At.isEmpty()) ::umount2(QFile::encodeName(At).constData(), MNT_DETACH);
            }
        } unmount;
        rlim_t fileSize = RLIM_INFINITY, addressSpace = RLIM_INFINITY;
        QStringList args{QStringLiteral("start"), QStringLiteral("Later")};
        if (how == "fsize" || how == "full") {
            args = QStringList{QStringLiteral("edit"), source, QStringLiteral("x")};
            if (how == "fsize") fileSize = 1024;
            if (how == "full") {
                QVERIFY(MakeDir(recovery, kUser, 0700));
                const QByteArray options = "size=8k,mode=0700,uid=" + QByteArray::number(kUser) + ",gid=" + QByteArray::number(kUser);
                if (::mount("tmpfs", QFile::encodeName(recovery).constData(), "tmpfs", 0, options.constData()) != 0)
                    QSKIP("no tmpfs can be mounted here");
                unmount.At = recovery;
            }
        } else if (how == "huge" || how == "memory") {
            QVERIFY(MakeDir(recovery, kUser, 0700));
            const qint64 size = qint64(2) << 30;
            const QString file = recovery + QStringLiteral("/9-dead.1.qvr");
            QFile f(file);
            const QByteArray header = recovery::Header(recovery::Entry{QString(), source, QDateTime::currentDateTimeUtc(), 0, {}})
                                          .replace("size 0", "size " + QByteArray::number(size));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(header) == header.size() && f.resize(header.size() + size));
            f.close();
            QVERIFY(::chown(QFile::encodeName(file).constData(), kUser, kUser) == 0 && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
            if (how == "memory") addressSpace = rlim_t(1) << 30;
        } else if (how == "tight") {
            QVERIFY(MakeDir(recovery, kUser, 0700));
            QVERIFY(plant(QStringLiteral("9-dead.1.qvr"), Kept(source, QByteArray("ab\n").repeated(1 << 22)), kUser, 0600));
            args = QStringList{QStringLiteral("start"), QStringLiteral("Restore"), QStringLiteral("tight")};
        } else if (how == "link" || how == "owner") {
            // The other user's folder, open to all, holding a file that claims the user's .profile.
            const QString theirs = how == "link" ? dir->filePath(QStringLiteral("other")) : recovery;
            QVERIFY(MakeDir(theirs, kOther, 0777));
            if (how == "link") QVERIFY(QFile::link(theirs, recovery));
            QVERIFY(plant(QStringLiteral("9-dead.1.qvr"), Kept(profile, "evil\n"), kOther, 0666));
            args = QStringList{QStringLiteral("start"), how == "link" ? QStringLiteral("Restore") : QStringLiteral("Discard")};
        } else if (how == "modes") {
            QVERIFY(MakeDir(recovery, kUser, 0777));
            QVERIFY(plant(QStringLiteral("9-dead.1.qvr"), Kept(source, mine), kUser, 0600));
            QVERIFY(plant(QStringLiteral("9-dead.2.qvr"), Kept(profile, "evil\n"), kUser, 0644));
            args = QStringList{QStringLiteral("start"), QStringLiteral("Restore")};
        } else if (how == "planted") {
            QVERIFY(MakeDir(recovery, kUser, 0700));
            QVERIFY(plant(QStringLiteral("9-dead.1.qvr"), Kept(source, mine), kUser, 0600));
            QVERIFY(plant(QStringLiteral("9-dead.2.qvr"), Kept(profile, "evil\n"), kOther, 0644));
            args = QStringList{QStringLiteral("start"), QStringLiteral("Discard")};
        } else if (how == "temporary") {
            // A half-written only copy, and a complete one that never got its name.
            QVERIFY(MakeDir(recovery, kUser, 0700));
            QVERIFY(plant(QStringLiteral(".9-dead.1.qvr.abc"), Kept(source, mine).chopped(3), kUser, 0600));
            QVERIFY(plant(QStringLiteral(".9-dead.2.qvr.def"), Kept(source, mine), kUser, 0600));
            planted[QStringLiteral("9-dead.2.qvr")] = Kept(source, mine);
        }
        if (how == "link") listed = dir->filePath(QStringLiteral("other"));

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_STATE_HOME"), state);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(home);
        child.setChildProcessModifier([fileSize, addressSpace] {
            for (const auto &[resource, value] : {std::pair{RLIMIT_FSIZE, fileSize}, std::pair{RLIMIT_AS, addressSpace}}) {
                rlimit l{};
                ::getrlimit(resource, &l);
                l.rlim_cur = value;
                ::setrlimit(resource, &l);
            }
        });
        if (root) {
            const QString user = QString::number(kUser);
            child.start(QStringLiteral("setpriv"), QStringList{"--reuid=" + user, "--regid=" + user, "--clear-groups", "--",
                                                               QStringLiteral(QV_RECOVERY_CHILD)} + args);
        } else {
            child.start(QStringLiteral(QV_RECOVERY_CHILD), args);
        }
        QVERIFY(child.waitForStarted());
        QByteArray out;
        if (args[0] == QLatin1String("edit")) {
            // Until the write failed and the user was told: the instance still runs.
            QDeadlineTimer deadline(30000);
            while (!out.contains("\noff ") && !out.startsWith("off ") && child.state() == QProcess::Running && !deadline.hasExpired()) {
                child.waitForReadyRead(1000);
                out += child.readAllStandardOutput();
            }
            QCOMPARE(child.state(), QProcess::Running);
            names.replaceInStrings(QStringLiteral("<id>"), QString::number(child.processId()) + QStringLiteral("-"));
        }
        QStringList after = QDir(listed).entryList(QDir::Files | QDir::Hidden | QDir::System);
        if (args[0] == QLatin1String("edit")) {
            // The instance id is the process id and a random part.
            after.replaceInStrings(QRegularExpression(QStringLiteral("^(\\d+-)[0-9a-f]{8}")), QStringLiteral("\\1"));
            child.kill();
        }
        QVERIFY(child.waitForFinished(60000));
        out += child.readAllStandardOutput();
        if (args[0] == QLatin1String("start")) {
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
            after = QDir(listed).entryList(QDir::Files | QDir::Hidden | QDir::System);
        }
        QStringList shown, saw, opened;
        bool wasOff = false;
        for (const QByteArray &line : out.split('\n')) {
            const QString text = QString::fromLocal8Bit(line);
            const QString rest = text.section(QLatin1Char(' '), 1);
            if (text.startsWith(QLatin1String("offer ")))
                shown << QFileInfo(rest).fileName();
            else if (text.startsWith(QLatin1String("window ")))
                opened << QFileInfo(rest).fileName();
            else if (text.startsWith(QLatin1String("box ")) || text.startsWith(QLatin1String("note ")))
                saw << rest;
            else if (text.startsWith(QLatin1String("off ")))
                wasOff = true, saw << rest;
            else if (text.startsWith(QLatin1String("rss ")))  // no leftover is read whole before it is restored
                QVERIFY2(rest.toLongLong() < 512 * 1024, qPrintable(text));
        }
        QCOMPARE(shown, offered);
        QVERIFY2(saw.join(QLatin1Char('\n')).contains(seen), qPrintable(saw.join(QLatin1Char('\n'))));
        QCOMPARE(wasOff, off);
        QCOMPARE(after, names);
        for (const auto &[name, bytes] : planted)
            if (after.contains(name)) QVERIFY2(qvtest::ReadFile(listed + QLatin1Char('/') + name) == bytes, qPrintable(name));
        QCOMPARE(opened, windows);
        QCOMPARE(qvtest::ReadFile(source), restored ? mine : original);
        QCOMPARE(qvtest::ReadFile(profile), QByteArray("safe\n"));
        struct stat st;
        if (::lstat(QFile::encodeName(recovery).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == kUser)
            QCOMPARE(int(st.st_mode & 07777), 0700);
    }
};

QV_TEST_MAIN(TstRecovery)
#include "tst_recovery.moc"
