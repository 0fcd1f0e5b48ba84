#include "option.h"

#include "fontsubst.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>

#include <algorithm>

// ---------------------------------------------------------------- TRadioGroup

TRadioGroup::TRadioGroup(QWidget *parent) : QGroupBox(parent) {}

void TRadioGroup::setColumns(int columns) {
    FColumns = std::max(1, columns);
    ArrangeButtons();
}

void TRadioGroup::setItems(const QStringList &items) {
    const int chosen = ItemIndex();
    qDeleteAll(FButtons);
    FButtons.clear();
    FItems = items;
    for (const QString &item : items) {
        auto *button = new QRadioButton(item, this);
        button->setAutoExclusive(true);
        button->installEventFilter(this);
        button->show();
        FButtons.append(button);
    }
    ArrangeButtons();
    setItemIndex(chosen);
}

int TRadioGroup::ItemIndex() const {
    for (int i = 0; i < FButtons.size(); ++i)
        if (FButtons[i]->isChecked())
            return i;
    return -1;
}

void TRadioGroup::setItemIndex(int index) {
    if (index >= 0 && index < FButtons.size()) {
        FButtons[index]->setChecked(true);
        return;
    }
    // An exclusive button refuses to be unticked while it is the chosen one.
    for (QRadioButton *button : std::as_const(FButtons)) {
        if (button->isChecked()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
            button->setAutoExclusive(true);
        }
    }
}

QRadioButton *TRadioGroup::Button(int index) const {
    return index >= 0 && index < FButtons.size() ? FButtons[index] : nullptr;
}

void TRadioGroup::resizeEvent(QResizeEvent *event) {
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

void TRadioGroup::changeEvent(QEvent *event) {
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        ArrangeButtons();
}

bool TRadioGroup::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        QRadioButton *chosen = Button(ItemIndex());
        if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason) && chosen &&
            chosen != watched) {
            chosen->setFocus(reason);
            return true;
        }
    }
    return QGroupBox::eventFilter(watched, event);
}

// The buttons fill the columns one after the other. The height below the
// title line is shared evenly among the rows; what is left over is split
// above and below them.
void TRadioGroup::ArrangeButtons() {
    const int count = int(FButtons.size());
    if (count == 0)
        return;
    const int rows = (count + FColumns - 1) / FColumns;
    const int lineHeight = fontMetrics().height();
    const int columnWidth = std::max(0, (width() - 10) / FColumns);
    const int free = std::max(0, height() - lineHeight - 5);
    const int rowHeight = free / rows;
    const int top = lineHeight + 1 + (free % rows) / 2;
    for (int i = 0; i < count; ++i)
        FButtons[i]->setGeometry(8 + (i / rows) * columnWidth, top + (i % rows) * rowHeight,
                                 columnWidth, rowHeight);
}

// -------------------------------------------------------------------- TUpDown

TUpDown::TUpDown(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void TUpDown::setMin(int value) {
    FMin = value;
    setPosition(FPosition);
}

void TUpDown::setMax(int value) {
    FMax = value;
    setPosition(FPosition);
}

void TUpDown::setPosition(int value) {
    FPosition = std::clamp(value, std::min(FMin, FMax), std::max(FMin, FMax));
    update();
}

void TUpDown::setIncrement(int value) {
    FIncrement = std::max(1, value);
}

void TUpDown::Step(bool up) {
    const int target = up ? FMax : FMin;
    const int from = up ? FMin : FMax;
    // Widened so that a step near the ends of int cannot overflow.
    const long long next = FPosition + (long long)(target >= from ? FIncrement : -FIncrement);
    const bool beyond = target >= from ? next > target : next < target;
    if (!beyond)
        setPosition(int(next));
    else if (FWrap)
        setPosition(from);
    else
        setPosition(target);
}

void TUpDown::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const int half = height() / 2;
    const QRect halves[2] = {QRect(0, 0, width(), half), QRect(0, half, width(), height() - half)};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton option;
        option.initFrom(this);
        option.rect = halves[i];
        if (FPressed == (i == 0 ? 1 : -1))
            option.state |= QStyle::State_Sunken;
        else
            option.state |= QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &painter, this);
        option.rect = halves[i].adjusted(3, 2, -3, -2);
        style()->drawPrimitive(i == 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown,
                               &option, &painter, this);
    }
}

void TUpDown::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const bool up = event->position().y() < height() / 2;
    FPressed = up ? 1 : -1;
    Step(up);
}

void TUpDown::mouseReleaseEvent(QMouseEvent *event) {
    QWidget::mouseReleaseEvent(event);
    FPressed = 0;
    update();
}

// -------------------------------------------------------------------- TOption

namespace {

// The drop-down list's rows keep one height whatever the style would choose.
class TItemHeightDelegate : public QStyledItemDelegate {
public:
    TItemHeightDelegate(int height, QObject *parent) : QStyledItemDelegate(parent), FHeight(height) {}
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), FHeight);
    }

private:
    int FHeight;
};

void AppendButtons(QWidgetList &chain, const TRadioGroup *group) {
    for (int i = 0; group->Button(i); ++i)
        chain.append(group->Button(i));
}

}  // namespace

TOption::TOption(QWidget *owner) : QDialog(owner) {
    qvfonts::InstallSubstitutes();
    setupUi(this);

    // A fixed frame with a close box and no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    for (QWidget *w : {static_cast<QWidget *>(PreviewC), static_cast<QWidget *>(PreviewBIN),
                       static_cast<QWidget *>(Define), static_cast<QWidget *>(Edit1),
                       static_cast<QWidget *>(Startup)})
        w->setAttribute(Qt::WA_InputMethodEnabled, false);

    Startup->setItemDelegate(new TItemHeightDelegate(12, Startup));

    // Tab goes from the page tabs through the shown page, then to the two
    // buttons; within a page or frame the controls follow their tab order.
    QWidgetList chain{PageControl1->tabBar()};
    AppendButtons(chain, RadioGroup1);           // 一般
    chain << PreviewC << PreviewBIN;
    chain << Define;                             // プリプロセッサ
    AppendButtons(chain, Optimize);              // コンパイル
    AppendButtons(chain, Warning);
    AppendButtons(chain, Verbose);
    chain << Profile << Edit1 << CheckBox1;      // UpDown1 takes no focus
    chain << LinkMap << Stack << CheckBox2 << Library << Startup;  // リンク
    chain << Inform << FileMode;                 // 実行ファイル
    chain << Button1 << Button2;
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    PageControl1->setCurrentWidget(TabSheet1);
    Button1->setFocus();

    // Ctrl+Tab and Ctrl+Shift+Tab turn the pages wherever the focus is.
    const auto turn = [this](int by) {
        const int n = PageControl1->count();
        PageControl1->setCurrentIndex((PageControl1->currentIndex() + by + n) % n);
    };
    for (const auto &[key, by] : {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
                                  std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
                                  std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1}})
        connect(new QShortcut(key, this), &QShortcut::activated, this, [turn, by = by] { turn(by); });
}

TOption::~TOption() = default;

// The window goes to the middle of the screen, not over its owner; only now
// is the size of its frame known.
void TOption::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (QScreen *s = screen()) {
        const QRect frame = frameGeometry();
        const QRect area = s->geometry();
        move(area.x() + (area.width() - frame.width()) / 2, area.y() + (area.height() - frame.height()) / 2);
    }
}

void ProjOptClick(QWidget *owner) {
    // The owner may go while the dialog is open; it then takes the dialog with it.
    QPointer<TOption> dialog = new TOption(owner);
    struct Cleanup {
        QPointer<TOption> &Dialog;
        ~Cleanup() { delete Dialog.data(); }
    } cleanup{dialog};
    dialog->exec();
}
