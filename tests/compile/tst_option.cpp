// The build settings dialog: its layout, how it opens and closes, and that it
// keeps nothing and changes nothing.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStackedWidget>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <climits>

#include "modal.h"
#include "option.h"
#include "testmain.h"

namespace {

// The members of a dialog in the order the class is expected to declare them,
// each with the address of its slot in the object.
// The dialog's controls by member name.
struct Member {
    QWidget *Widget;
    const char *Name;
};
constexpr int ControlCount = 40;
QList<Member> Members(TOption &d) {
#define M(name) Member{d.name, #name}
    return {M(Button1),   M(Button2),   M(PageControl1), M(TabSheet1), M(TabSheet2),
            M(TabSheet3), M(TabSheet4), M(TabSheet5),    M(Label1),    M(Optimize),
            M(Warning),   M(Verbose),   M(Profile),      M(ErrFltr),   M(Edit1),
            M(UpDown1),   M(GroupBox2), M(RadioGroup1),  M(GroupBox1), M(GroupBox3),
            M(PreviewC),  M(Label2),    M(Define),       M(CheckBox1), M(LinkMap),
            M(Stack),     M(Label4),    M(CheckBox2),    M(GroupBox4), M(Library),
            M(Label3),    M(Label5),    M(Inform),       M(Label6),    M(FileMode),
            M(Label7),    M(Startup),   M(PreviewBIN),   M(Label8),    M(Label9)};
#undef M
}

// The page control or group box that holds a control (pages sit in the page
// control's stack).
QString Holder(const QWidget *w) {
    const QWidget *p = w->parentWidget();
    if (qobject_cast<const QStackedWidget *>(p) && qobject_cast<const QTabWidget *>(p->parentWidget()))
        p = p->parentWidget();
    return p ? p->objectName() : QString();
}

QString Caption(QWidget *w) {
    if (auto *b = qobject_cast<QAbstractButton *>(w)) return b->text();
    if (auto *g = qobject_cast<QGroupBox *>(w)) return g->title();
    if (auto *l = qobject_cast<QLabel *>(w)) return l->text();
    if (auto *e = qobject_cast<QLineEdit *>(w)) return e->text();
    if (auto *m = qobject_cast<QPlainTextEdit *>(w)) return m->toPlainText();
    if (auto *c = qobject_cast<QComboBox *>(w)) return c->currentText();
    if (auto *t = qobject_cast<QTabWidget *>(w->parentWidget() ? w->parentWidget()->parentWidget() : nullptr))
        return t->tabText(t->indexOf(w));
    return QString();
}

QString FontOf(const QWidget *w) {
    return QStringLiteral("%1/%2px").arg(w->font().family()).arg(w->font().pixelSize());
}

// Everything the user can change in the dialog, one "name=value" per control.
QStringList Values(TOption &d) {
    QStringList values{QStringLiteral("page=%1").arg(d.PageControl1->currentIndex())};
    for (const Member &m : Members(d)) {
        QWidget *w = m.Widget;
        QString v = QStringLiteral("enabled:%1").arg(w->isEnabled());
        if (auto *r = qobject_cast<TRadioGroup *>(w)) v += QStringLiteral(" index:%1").arg(r->ItemIndex());
        if (auto *c = qobject_cast<QCheckBox *>(w)) v += QStringLiteral(" checked:%1").arg(c->isChecked());
        if (auto *c = qobject_cast<QComboBox *>(w)) v += QStringLiteral(" index:%1").arg(c->currentIndex());
        if (auto *u = qobject_cast<TUpDown *>(w)) v += QStringLiteral(" position:%1").arg(u->Position());
        values << w->objectName() + u'=' + v + u' ' + Caption(w);
    }
    return values;
}

// Clicks a button's mark after showing its page (a radio button or check box
// takes clicks on its mark and text only).
void ClickOn(TOption &d, QWidget *page, QWidget *w) {
    d.PageControl1->setCurrentWidget(page);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(6, w->height() / 2));
}

// The dialog has become the active window (a dialog counts as active as soon
// as its owner is, before it really is).
bool Activated(QWidget *w) {
    return QTest::qWaitFor([w] { return w->isActiveWindow() && QApplication::focusWidget(); });
}

void TypeInto(TOption &d, QWidget *page, QWidget *w, const QString &text) {
    d.PageControl1->setCurrentWidget(page);
    w->setFocus();
    QTest::keyClicks(w, text);
}

// Works every control that can be changed.
void ChangeEverything(TOption &d) {
    ClickOn(d, d.TabSheet1, d.RadioGroup1->Button(1));
    ClickOn(d, d.TabSheet3, d.Optimize->Button(0));
    ClickOn(d, d.TabSheet3, d.Verbose->Button(2));
    ClickOn(d, d.TabSheet3, d.Warning->Button(3));
    ClickOn(d, d.TabSheet3, d.Profile);
    ClickOn(d, d.TabSheet3, d.CheckBox1);
    ClickOn(d, d.TabSheet4, d.LinkMap);
    ClickOn(d, d.TabSheet4, d.CheckBox2);
    TypeInto(d, d.TabSheet2, d.Define, QStringLiteral("FOO,BAR=1"));
    TypeInto(d, d.TabSheet4, d.Library, QStringLiteral("libm.lib"));
    TypeInto(d, d.TabSheet5, d.Inform, QStringLiteral("info"));
    TypeInto(d, d.TabSheet5, d.FileMode, QStringLiteral("5"));
    d.PageControl1->setCurrentWidget(d.TabSheet4);
    d.Startup->setFocus();
    QTest::keyClick(d.Startup, Qt::Key_Down);
    d.PageControl1->setCurrentWidget(d.TabSheet5);
}

const QString WindowFont = QStringLiteral("MS Sans Serif/12px");
const QString MemoFont = QStringLiteral("ＭＳ ゴシック/12px");

}  // namespace

class TestOption : public QObject {
    Q_OBJECT
private slots:
    // The 40 controls in declaration order. Geometry is left unpinned for
    // the pages, which the page control sizes. Details not listed are
    // checked against their usual value: enabled, the window font.
    void layout_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("holder");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QVariantMap>("details");
        const QVariantMap none;
        const QVariantMap noIme{{"ime", false}};
        const QVariantMap unticked{{"checked", false}};
        const QVariantMap memo{{"ime", false}, {"font", MemoFont}};
        const QVariantMap wraps{{"wordWrap", true}};
        auto row = [](const char *name, const char *kind, const char *holder, QRect geometry,
                      const QString &text, const QVariantMap &details) {
            QTest::newRow(name) << kind << holder << geometry << text << details;
        };
        row("Button1", "QPushButton", "TOption", {231, 188, 75, 25}, "設定", {{"default", true}});
        row("Button2", "QPushButton", "TOption", {311, 188, 75, 25}, "中止", {{"default", false}});
        row("PageControl1", "QTabWidget", "TOption", {0, 0, 394, 225}, "", {{"index", 0}});
        row("TabSheet1", "QWidget", "PageControl1", {}, "一般", none);
        row("TabSheet2", "QWidget", "PageControl1", {}, "プリプロセッサ", none);
        row("TabSheet3", "QWidget", "PageControl1", {}, "コンパイル", none);
        row("TabSheet4", "QWidget", "PageControl1", {}, "リンク", none);
        row("TabSheet5", "QWidget", "PageControl1", {}, "実行ファイル", none);
        row("Label1", "QLabel", "TabSheet3", {96, 56, 4, 12}, "", none);
        row("Optimize", "TRadioGroup", "TabSheet3", {0, 0, 177, 57}, "最適化(&O)",
            {{"tag", 1}, {"columns", 1}, {"index", 1},
             {"items", QStringList{"最適化しない(-O0)", "最適化する(-O)"}}});
        row("Warning", "TRadioGroup", "TabSheet3", {184, 72, 201, 85}, "警告メッセージ(&W)",
            {{"tag", 3}, {"columns", 1}, {"index", 1},
             {"items", QStringList{"出力しない(-w0)", "出力する(-w1)", "出力しエラー扱い(-w2)",
                                   "未宣言関数警告を抑止(-wi)"}}});
        row("Verbose", "TRadioGroup", "TabSheet3", {184, 0, 201, 70}, "コンパイルメッセージ(&V)",
            {{"tag", 2}, {"columns", 1}, {"index", 0},
             {"items", QStringList{"表示しない(-v0)", "実行中のコマンド表示(-v1)", "処理中の関数を表示(-v2)"}}});
        row("Profile", "QCheckBox", "TabSheet3", {8, 128, 145, 17}, "プロファイリング(-p)", unticked);
        row("ErrFltr", "QGroupBox", "TabSheet3", {0, 64, 177, 43}, "コンパイルを中止するエラー数", none);
        row("Edit1", "QLineEdit", "ErrFltr", {120, 16, 33, 20}, "20", {{"enabled", false}, {"ime", false}});
        row("UpDown1", "TUpDown", "ErrFltr", {153, 16, 16, 20}, "",
            {{"enabled", false}, {"updown", QVariantList{0, 100, 20, 1, false}}});
        row("GroupBox2", "QGroupBox", "TabSheet3", {0, 112, 177, 45}, "その他", none);
        row("RadioGroup1", "TRadioGroup", "TabSheet1", {0, 0, 385, 41}, "ビルドモード",
            {{"columns", 2}, {"index", 0}, {"items", QStringList{"デバッグ", "リリース"}}});
        row("GroupBox1", "QGroupBox", "TabSheet1", {0, 48, 385, 113}, "パラメータの確認", none);
        row("GroupBox3", "QGroupBox", "TabSheet2", {0, 0, 385, 81}, "定義(#define)", none);
        row("PreviewC", "QPlainTextEdit", "GroupBox1", {8, 32, 369, 25}, "lcc86 -DDEBUG -O -v1 -w1 -c", memo);
        row("Label2", "QLabel", "GroupBox3", {8, 40, 369, 33},
            "※カンマ(',')で区切って複数記述できます。値を持つ場合はMACRO=VALUREの形式で記述します。"
            "'-D'は記述してはいけません。",
            wraps);
        row("Define", "QLineEdit", "GroupBox3", {8, 16, 369, 20}, "", noIme);
        row("CheckBox1", "QCheckBox", "ErrFltr", {8, 16, 57, 17}, "有効", unticked);
        row("LinkMap", "QCheckBox", "TabSheet4", {8, 8, 137, 17}, "リンケージマップ作成", unticked);
        row("Stack", "QLineEdit", "TabSheet4", {128, 24, 49, 20}, "65536", {{"enabled", false}});
        row("Label4", "QLabel", "TabSheet4", {184, 27, 30, 12}, "バイト", none);
        row("CheckBox2", "QCheckBox", "TabSheet4", {8, 24, 121, 17}, "スタックサイズ指定", unticked);
        row("GroupBox4", "QGroupBox", "TabSheet4", {8, 48, 369, 65}, "ライブラリ", none);
        row("Library", "QLineEdit", "GroupBox4", {8, 16, 353, 20}, "", none);
        row("Label3", "QLabel", "GroupBox4", {8, 40, 345, 17}, "※指定の仕方はプリプロセッサと同じ感じ。", wraps);
        row("Label5", "QLabel", "TabSheet5", {8, 8, 21, 12}, "Info:", none);
        row("Inform", "QLineEdit", "TabSheet5", {40, 8, 121, 20}, "", none);
        row("Label6", "QLabel", "TabSheet5", {8, 48, 29, 12}, "Mode:", none);
        row("FileMode", "QLineEdit", "TabSheet5", {40, 40, 121, 20}, "7", none);
        row("Label7", "QLabel", "TabSheet4", {8, 124, 116, 12}, "スタートアップルーチン", none);
        row("Startup", "QComboBox", "TabSheet4", {128, 120, 145, 20}, "",
            {{"index", -1}, {"ime", false}, {"editable", false}, {"itemHeight", 12},
             {"items", QStringList{"crt0asc1.obj", "crt0asc2.obj", "crt0jpn1.obj", "crt0jpn2.obj"}}});
        row("PreviewBIN", "QPlainTextEdit", "GroupBox1", {8, 80, 369, 25}, "lcc86 -acrt0jpn2.obj -k-M", memo);
        row("Label8", "QLabel", "GroupBox1", {8, 16, 25, 12}, ".c.obj", none);
        row("Label9", "QLabel", "GroupBox1", {8, 64, 34, 12}, ".obj.bin", none);
    }
    void layout() {
        QFETCH(QString, kind);
        QFETCH(QString, holder);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(QVariantMap, details);
        const QString name = QString::fromLatin1(QTest::currentDataTag());

        TOption d(nullptr);
        d.ensurePolished();
        const QList<Member> members = Members(d);
        QCOMPARE(members.size(), ControlCount);
        const int row = [&] {
            for (int i = 0; i < ControlCount; ++i)
                if (name == QLatin1String(members[i].Name)) return i;
            return -1;
        }();
        QVERIFY2(row >= 0, "not a member of TOption");
        QWidget *w = members[row].Widget;
        QVERIFY(w);
        QCOMPARE(w->objectName(), name);
        QCOMPARE(d.findChildren<QWidget *>(name), QList<QWidget *>{w});
        QCOMPARE(QString::fromLatin1(w->metaObject()->className()), kind);
        QCOMPARE(Holder(w), holder);
        if (!geometry.isNull())
            QCOMPARE(w->geometry(), geometry);
        QCOMPARE(Caption(w), text);

        QCOMPARE(w->isEnabled(), details.value("enabled", true).toBool());
        QCOMPARE(FontOf(w), details.value("font", WindowFont).toString());
        if (details.contains("ime"))
            QCOMPARE(w->testAttribute(Qt::WA_InputMethodEnabled), details["ime"].toBool());
        if (details.contains("tag"))
            QCOMPARE(w->property("Tag"), details["tag"]);
        else
            QVERIFY(!w->property("Tag").isValid());
        if (auto *b = qobject_cast<QPushButton *>(w))
            QCOMPARE(b->isDefault(), details["default"].toBool());
        if (auto *c = qobject_cast<QCheckBox *>(w))
            QCOMPARE(c->isChecked(), details["checked"].toBool());
        if (auto *l = qobject_cast<QLabel *>(w))
            QCOMPARE(l->wordWrap(), details.value("wordWrap", false).toBool());
        if (auto *m = qobject_cast<QPlainTextEdit *>(w)) {
            QCOMPARE(m->isReadOnly(), true);
            QCOMPARE(m->document()->blockCount(), 1);
            QCOMPARE(m->viewport()->palette().color(QPalette::Base), d.palette().color(QPalette::Button));
            QCOMPARE(m->palette().color(QPalette::Text), QColor(Qt::black));
        }
        if (auto *t = qobject_cast<QTabWidget *>(w))
            QCOMPARE(t->currentIndex(), details["index"].toInt());
        if (auto *r = qobject_cast<TRadioGroup *>(w)) {
            QCOMPARE(r->Items(), details["items"].toStringList());
            QCOMPARE(r->Columns(), details["columns"].toInt());
            QCOMPARE(r->ItemIndex(), details["index"].toInt());
            for (int i = 0; i < r->Items().size(); ++i)
                QCOMPARE(r->Button(i)->text(), r->Items()[i]);
        }
        if (auto *c = qobject_cast<QComboBox *>(w)) {
            QStringList items;
            for (int i = 0; i < c->count(); ++i) items << c->itemText(i);
            QCOMPARE(items, details["items"].toStringList());
            QCOMPARE(c->currentIndex(), details["index"].toInt());
            QCOMPARE(c->isEditable(), details["editable"].toBool());
            QCOMPARE(c->view()->sizeHintForRow(0), details["itemHeight"].toInt());
        }
        if (auto *u = qobject_cast<TUpDown *>(w)) {
            const QVariantList v = details["updown"].toList();
            QCOMPARE(u->Min(), v[0].toInt());
            QCOMPARE(u->Max(), v[1].toInt());
            QCOMPARE(u->Position(), v[2].toInt());
            QCOMPARE(u->Increment(), v[3].toInt());
            QCOMPARE(u->Wrap(), v[4].toBool());
        }
    }

    // Each member is the control of its name; the order that the layout
    // needs is that of the pages and of what lies over what.
    void membersAndTheirOrder() {
        TOption d(nullptr);
        const QList<Member> members = Members(d);
        for (int i = 0; i < members.size(); ++i)
            QCOMPARE(members[i].Widget->objectName(), QLatin1String(members[i].Name));
        // The page control's pages are the five sheets, in order.
        QCOMPARE(d.PageControl1->count(), 5);
        for (int i = 0; i < 5; ++i) QCOMPARE(d.PageControl1->widget(i), members[3 + i].Widget);
        // The buttons lie over the page control.
        QVERIFY(d.childAt(250, 200) == d.Button1);
        // Profile is drawn inside GroupBox2's frame and above it.
        d.PageControl1->setCurrentWidget(d.TabSheet3);
        QCOMPARE(d.TabSheet3->childAt(d.Profile->geometry().center()), d.Profile);
    }

    void window() {
        TOption d(nullptr);
        d.ensurePolished();
        QCOMPARE(d.windowTitle(), QStringLiteral("ビルド設定"));
        QCOMPARE(d.size(), QSize(394, 225));
        QCOMPARE(d.minimumSize(), QSize(394, 225));
        QCOMPARE(d.maximumSize(), QSize(394, 225));
        QCOMPARE(FontOf(&d), WindowFont);
        const Qt::WindowFlags flags = d.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        // Centred on the screen, even when the owner is somewhere else.
        QWidget owner;
        owner.setGeometry(10, 10, 100, 80);
        TOption owned(&owner);
        QCOMPARE(owned.parentWidget(), &owner);
        owned.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owned));
        const QRect frame = owned.frameGeometry(), screen = owned.screen()->geometry();
        QVERIFY2(qAbs(frame.left() - screen.left() - (screen.right() - frame.right())) <= 1, "not centred across");
        QVERIFY2(qAbs(frame.top() - screen.top() - (screen.bottom() - frame.bottom())) <= 1, "not centred down");
    }

    // Through ProjOptClick, as the Project menu opens it.
    void opening() {
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QPointer<TOption> seen;
        int opened = 0;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            ++opened;
            seen = &d;
            QVERIFY(Activated(&d));
            QCOMPARE(d.parentWidget(), &owner);
            QCOMPARE(QApplication::activeModalWidget(), &d);
            QCOMPARE(d.PageControl1->currentWidget(), d.TabSheet1);
            QVERIFY(d.TabSheet1->isVisible());
            QCOMPARE(d.RadioGroup1->ItemIndex(), 0);
            QVERIFY(d.RadioGroup1->Button(0)->isVisible());
            QCOMPARE(QApplication::focusWidget(), d.Button1);
            QCOMPARE(d.Startup->currentIndex(), -1);
            QCOMPARE(d.Startup->currentText(), QString());
        });
        ProjOptClick(&owner);
        QCOMPARE(opened, 1);
        QVERIFY(seen.isNull());
        QVERIFY(owner.findChildren<TOption *>().isEmpty());
    }

    // The real modal loop: how it closes, and with which result.
    void closing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << "enter" << int(QDialog::Accepted);
        QTest::newRow("Return") << "return" << int(QDialog::Accepted);
        QTest::newRow("Esc") << "esc" << int(QDialog::Rejected);
        QTest::newRow("設定 clicked") << "ok" << int(QDialog::Accepted);
        QTest::newRow("中止 clicked") << "cancel" << int(QDialog::Rejected);
        QTest::newRow("close box") << "close" << int(QDialog::Rejected);
        QTest::newRow("Enter on 中止") << "enter on cancel" << int(QDialog::Rejected);
    }
    void closing() {
        QFETCH(QString, how);
        QFETCH(int, result);
        QWidget owner;
        TOption d(&owner);
        QWidget *focused = nullptr;
        qvtest::AnswerModal<TOption>([&](TOption &) {
            focused = QApplication::focusWidget();
            if (how == "enter") QTest::keyClick(focused, Qt::Key_Enter);
            else if (how == "return") QTest::keyClick(focused, Qt::Key_Return);
            else if (how == "esc") QTest::keyClick(focused, Qt::Key_Escape);
            else if (how == "ok") QTest::mouseClick(d.Button1, Qt::LeftButton);
            else if (how == "cancel") QTest::mouseClick(d.Button2, Qt::LeftButton);
            else if (how == "close") d.close();
            else if (how == "enter on cancel") {
                QTest::keyClick(focused, Qt::Key_Tab);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
            }
        });
        QCOMPARE(d.exec(), result);
        QCOMPARE(focused, d.Button1);
        QVERIFY(!d.isVisible());
    }

    // ProjOptClick with the real modal loop, once: it returns when the dialog
    // is closed, and the dialog is gone.
    void projOptClickRunsModally() {
        QWidget owner;
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        QPointer<TOption> seen;
        bool ownerBlocked = false;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            seen = qobject_cast<TOption *>(&d);
            ownerBlocked = QApplication::activeModalWidget() == &d && d.parentWidget() == &owner;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        });
        ProjOptClick(&owner);
        QVERIFY(ownerBlocked);
        QVERIFY(seen.isNull());
        QVERIFY(owner.findChildren<TOption *>().isEmpty());
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    // Whatever was changed and however the dialog was closed, the next
    // opening shows the layout's values.
    void reopeningForgets_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("設定") << "ok";
        QTest::newRow("中止") << "cancel";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }
    void reopeningForgets() {
        QFETCH(QString, how);
        QWidget owner;
        QStringList first, changed, second;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            first = Values(d);
            ChangeEverything(d);
            changed = Values(d);
            QCOMPARE(d.PreviewC->toPlainText(), QStringLiteral("lcc86 -DDEBUG -O -v1 -w1 -c"));
            QCOMPARE(d.PreviewBIN->toPlainText(), QStringLiteral("lcc86 -acrt0jpn2.obj -k-M"));
            // Typing into them did not bring the input method back.
            QVERIFY(!d.Define->testAttribute(Qt::WA_InputMethodEnabled));
            QVERIFY(!d.Startup->testAttribute(Qt::WA_InputMethodEnabled));
            if (how == "ok") d.Button1->click();
            else if (how == "cancel") d.Button2->click();
            else if (how == "esc") QTest::keyClick(&d, Qt::Key_Escape);
            else d.close();
            QVERIFY(!d.isVisible());
        });
        ProjOptClick(&owner);
        qvtest::AnswerModal<TOption>([&](TOption &d) { second = Values(d); });
        ProjOptClick(&owner);

        // Every changeable control did change, so the comparison means something.
        QCOMPARE(changed.size(), first.size());
        int differing = 0;
        for (int i = 0; i < first.size(); ++i) differing += first[i] != changed[i];
        QCOMPARE(differing, 14);  // the page and 13 controls
        QCOMPARE(second, first);
    }

    void disabledFieldsStayDisabled() {
        QWidget owner;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            QVERIFY(Activated(&d));
            ClickOn(d, d.TabSheet3, d.CheckBox1);
            QVERIFY(d.CheckBox1->isChecked());
            QVERIFY(!d.Edit1->isEnabled());
            QVERIFY(!d.UpDown1->isEnabled());
            QTest::mouseClick(d.UpDown1, Qt::LeftButton, {}, QPoint(8, 3));
            QCOMPARE(d.UpDown1->Position(), 20);
            QTest::mouseClick(d.Edit1, Qt::LeftButton);
            QTest::keyClicks(QApplication::focusWidget(), "9");
            QCOMPARE(d.Edit1->text(), QStringLiteral("20"));
            QVERIFY(QApplication::focusWidget() != d.Edit1);

            ClickOn(d, d.TabSheet4, d.CheckBox2);
            QVERIFY(d.CheckBox2->isChecked());
            QVERIFY(!d.Stack->isEnabled());
            QTest::mouseClick(d.Stack, Qt::LeftButton);
            QTest::keyClicks(QApplication::focusWidget(), "1");
            QCOMPARE(d.Stack->text(), QStringLiteral("65536"));

            // Unticking again changes nothing either.
            ClickOn(d, d.TabSheet3, d.CheckBox1);
            ClickOn(d, d.TabSheet4, d.CheckBox2);
            QVERIFY(!d.CheckBox1->isChecked() && !d.CheckBox2->isChecked());
            QVERIFY(!d.Edit1->isEnabled() && !d.UpDown1->isEnabled() && !d.Stack->isEnabled());
        });
        ProjOptClick(&owner);
    }

    // Tab from the page tabs runs through the shown page and the two buttons
    // and back to the tabs. A radio group is entered at its chosen item.
    void tabOrder_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("一般") << 0 << QStringList{"RadioGroup1", "PreviewC", "PreviewBIN"};
        QTest::newRow("プリプロセッサ") << 1 << QStringList{"Define"};
        QTest::newRow("コンパイル") << 2 << QStringList{"Optimize", "Warning", "Verbose", "Profile", "CheckBox1"};
        QTest::newRow("リンク") << 3 << QStringList{"LinkMap", "CheckBox2", "Library", "Startup"};
        QTest::newRow("実行ファイル") << 4 << QStringList{"Inform", "FileMode"};
    }
    void tabOrder() {
        QFETCH(int, page);
        QFETCH(QStringList, order);
        order.prepend("tabs");
        order << "Button1" << "Button2" << "tabs";
        QStringList reversed(order.rbegin(), order.rend());
        QWidget owner;
        QStringList forward, backward;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            QVERIFY(Activated(&d));
            d.PageControl1->setCurrentIndex(page);
            QTabBar *tabs = d.PageControl1->tabBar();
            // Tabs round from the tab bar back to it. The tab bar's own scroll
            // arrows, shown when the tabs do not fit, are passed over.
            auto walk = [&](Qt::KeyboardModifiers modifiers, QStringList &visited) {
                tabs->setFocus();
                for (int step = 0; step < 30 && visited.size() < order.size(); ++step) {
                    QWidget *f = QApplication::focusWidget();
                    if (!f) {
                        visited << "(none)";
                        return;
                    }
                    if (f == tabs) visited << "tabs";
                    else if (auto *r = qobject_cast<QRadioButton *>(f))
                        visited << f->parentWidget()->objectName() + (r->isChecked() ? "" : " (not chosen)");
                    else if (f->parentWidget() != tabs) visited << f->objectName();
                    QTest::keyClick(f, Qt::Key_Tab, modifiers);
                }
            };
            walk(Qt::NoModifier, forward);
            walk(Qt::ShiftModifier, backward);
            QCOMPARE(d.PageControl1->currentIndex(), page);
            // Ctrl+Tab turns the pages from the buttons too, round at the ends.
            const int n = d.PageControl1->count();
            d.Button2->setFocus();
            QTest::keyClick(d.Button2, Qt::Key_Tab, Qt::ControlModifier);
            QCOMPARE(d.PageControl1->currentIndex(), (page + 1) % n);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
            QCOMPARE(d.PageControl1->currentIndex(), (page + n - 1) % n);
        });
        ProjOptClick(&owner);
        QCOMPARE(forward, order);
        QCOMPARE(backward, reversed);
    }

    // The owner may go while the dialog is open (it takes the dialog along),
    // and a dialog without an owner is still destroyed.
    void owners_data() {
        QTest::addColumn<QString>("owner");
        QTest::newRow("none") << "none";
        QTest::newRow("window") << "window";
        QTest::newRow("window closed and deleted meanwhile") << "deleted";
    }
    void owners() {
        QFETCH(QString, owner);
        QPointer<QWidget> window = owner == "none" ? nullptr : new QWidget;
        QPointer<TOption> seen;
        int opened = 0;
        qvtest::AnswerModal<TOption>([&](TOption &d) {
            ++opened;
            seen = &d;
            QCOMPARE(d.parentWidget(), window.data());
            if (owner == "deleted") delete window.data();
        });
        ProjOptClick(window);
        QCOMPARE(opened, 1);
        QVERIFY(seen.isNull());
        QCOMPARE(window.isNull(), owner != "window");
        delete window.data();
    }

    // The radio group stacks its items column by column and shares the height
    // under the title evenly.
    void radioGroupArrangement_data() {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QList<int>>("itemColumns");
        QTest::newRow("two side by side") << 2 << 2 << QList<int>{0, 1};
        QTest::newRow("one column") << 4 << 1 << QList<int>{0, 0, 0, 0};
        QTest::newRow("five in two") << 5 << 2 << QList<int>{0, 0, 0, 1, 1};
        QTest::newRow("more columns than items") << 2 << 4 << QList<int>{0, 1};
        QTest::newRow("no columns") << 3 << 0 << QList<int>{0, 0, 0};
        QTest::newRow("negative columns") << 2 << -3 << QList<int>{0, 0};
    }
    void radioGroupArrangement() {
        QFETCH(int, items);
        QFETCH(int, columns);
        QFETCH(QList<int>, itemColumns);
        TRadioGroup g;
        g.resize(300, 120);
        g.setColumns(columns);
        QStringList texts;
        for (int i = 0; i < items; ++i) texts << QString::number(i);
        g.setItems(texts);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCOMPARE(g.Columns(), qMax(1, columns));
        QCOMPARE(g.ItemIndex(), -1);
        for (int size : {300, 500}) {
            g.resize(size, size / 2);
            for (int i = 0; i < items; ++i) {
                const QRect r = g.Button(i)->geometry();
                QVERIFY(r.top() > g.fontMetrics().height());  // below the title
                QVERIFY(g.rect().contains(r));
                if (i == 0) continue;
                const QRect before = g.Button(i - 1)->geometry();
                if (itemColumns[i] == itemColumns[i - 1]) {  // straight below the one before
                    QCOMPARE(r.topLeft(), before.bottomLeft() + QPoint(0, 1));
                } else {  // at the top of the next column
                    QCOMPARE(r.top(), g.Button(0)->geometry().top());
                    QCOMPARE(r.left(), before.right() + 1);
                }
                QCOMPARE(r.size(), before.size());
            }
        }
    }

    void radioGroupChoice() {
        TRadioGroup g;
        g.resize(200, 100);
        g.setItems({"a", "b", "c"});
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        auto checked = [&] {
            QList<bool> c;
            for (int i = 0; g.Button(i); ++i) c << g.Button(i)->isChecked();
            return c;
        };
        QTest::mouseClick(g.Button(2), Qt::LeftButton, {}, QPoint(6, g.Button(2)->height() / 2));
        QCOMPARE(g.ItemIndex(), 2);
        g.setItemIndex(0);
        QCOMPARE(checked(), (QList<bool>{true, false, false}));
        // An index outside the items chooses nothing.
        for (int bad : {3, -1, -5, INT_MAX, INT_MIN}) {
            g.setItemIndex(1);
            g.setItemIndex(bad);
            QCOMPARE(g.ItemIndex(), -1);
            QCOMPARE(checked(), (QList<bool>{false, false, false}));
        }
        QCOMPARE(g.Button(3), nullptr);
        QCOMPARE(g.Button(-1), nullptr);
        // New items keep a choice that still exists and drop one that does not.
        g.setItemIndex(1);
        g.setItems({"x", "y"});
        QCOMPARE(g.ItemIndex(), 1);
        QCOMPARE(g.Button(1)->text(), QStringLiteral("y"));
        g.setItems({"only"});
        QCOMPARE(g.ItemIndex(), -1);
        g.setItems({});
        QCOMPARE(g.ItemIndex(), -1);
        QCOMPARE(g.Button(0), nullptr);
        QVERIFY(g.findChildren<QRadioButton *>().isEmpty());
    }

    // A click on the upper or lower half of the arrows.
    void upDownSteps_data() {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("increment");
        QTest::addColumn<bool>("wrap");
        QTest::addColumn<bool>("up");
        QTest::addColumn<int>("expected");
        QTest::newRow("up") << 0 << 100 << 20 << 1 << false << true << 21;
        QTest::newRow("down") << 0 << 100 << 20 << 1 << false << false << 19;
        QTest::newRow("up at max") << 0 << 100 << 100 << 1 << false << true << 100;
        QTest::newRow("down at min") << 0 << 100 << 0 << 1 << false << false << 0;
        QTest::newRow("up at max wraps") << 0 << 100 << 100 << 1 << true << true << 0;
        QTest::newRow("down at min wraps") << 0 << 100 << 0 << 1 << true << false << 100;
        QTest::newRow("step stops at max") << 0 << 100 << 95 << 10 << false << true << 100;
        QTest::newRow("zero increment is one") << 0 << 100 << 20 << 0 << false << true << 21;
        QTest::newRow("negative increment is one") << 0 << 100 << 20 << -5 << false << false << 19;
        QTest::newRow("min above max: up counts down") << 10 << 0 << 5 << 1 << false << true << 4;
        QTest::newRow("min above max: down counts up") << 10 << 0 << 5 << 1 << false << false << 6;
        QTest::newRow("position above max is clamped") << 0 << 100 << 500 << 1 << false << false << 99;
        QTest::newRow("position below min is clamped") << 0 << 100 << -500 << 1 << false << true << 1;
        QTest::newRow("no overflow at the top of int") << 0 << INT_MAX << INT_MAX - 1 << 10 << false << true << INT_MAX;
        QTest::newRow("no overflow at the bottom of int") << INT_MIN << 0 << INT_MIN + 1 << 10 << true << false << 0;
    }
    void upDownSteps() {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, position);
        QFETCH(int, increment);
        QFETCH(bool, wrap);
        QFETCH(bool, up);
        QFETCH(int, expected);
        TUpDown u;
        u.resize(16, 20);
        u.setMin(min);
        u.setMax(max);
        u.setPosition(position);
        u.setIncrement(increment);
        u.setWrap(wrap);
        u.show();
        QVERIFY(QTest::qWaitForWindowExposed(&u));
        QTest::mouseClick(&u, Qt::LeftButton, {}, QPoint(8, up ? 3 : 17));
        QCOMPARE(u.Position(), expected);
    }

    void upDownBounds() {
        TUpDown u;
        u.setPosition(20);
        u.setMax(10);  // the position follows a bound that moves past it
        QCOMPARE(u.Position(), 10);
        u.setMin(15);  // now min above max: the position already lies between them
        QCOMPARE(u.Position(), 10);
        u.setMax(40);
        QCOMPARE(u.Position(), 15);
        u.setMin(-4);
        u.setPosition(-100);
        QCOMPARE(u.Position(), -4);
        u.setEnabled(false);
        u.show();
        QVERIFY(QTest::qWaitForWindowExposed(&u));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted by receiving widget"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted by receiving widget"));
        QTest::mouseClick(&u, Qt::LeftButton, {}, QPoint(8, 3));
        QCOMPARE(u.Position(), -4);
    }
};

QV_TEST_MAIN(TestOption)
#include "tst_option.moc"
