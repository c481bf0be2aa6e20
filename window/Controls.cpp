#include "Controls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTime>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

namespace {
int toPixels(double twips) { return static_cast<int>(std::lround(twips / TwipsPerPixel)); }

// Panel widths of the status bar, in twips.
constexpr int MessagePanelTwips = 6345;
constexpr int MessagePanelMinimumTwips = 1440;
constexpr int ClockPanelTwips = 1440;

QLabel *sunkenPanel(QWidget *parent)
{
    auto *panel = new QLabel(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setIndent(2);
    panel->setTextFormat(Qt::PlainText);
    return panel;
}
// Where the MS fonts are missing, IPA P-Gothic stands in at the same size.
QFont gothicFont(double points, const QStringList &preferred)
{
    QFont font;
    font.setFamilies(preferred + QStringList{QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")});
    font.setPointSizeF(points);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

// The light grey of the classic scheme's active window borders.
const QColor ClassicBorderGrey(212, 208, 200);

// A palette whose text is lighter than its background.
bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Text).lightnessF() > palette.color(QPalette::Base).lightnessF();
}

} // namespace

QFont userInterfaceFont() { return gothicFont(9, {QStringLiteral("MS UI Gothic"), QStringLiteral("ＭＳ Ｐゴシック")}); }
QFont msPGothic(double points) { return gothicFont(points, {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic")}); }

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setTextFormat(Qt::PlainText);
    return label;
}

PickCombo *makeCombo(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *combo = new PickCombo(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setGeometry(geometry);
    combo->setEditText(QStringLiteral("?"));
    return combo;
}

QIcon picture(const QString &name) { return QIcon(QStringLiteral(":/pictures/%1.svg").arg(name)); }

QToolButton *makePictureButton(QWidget *parent, const char *name, const QString &caption, const QIcon &picture,
                               const QRect &geometry)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setText(caption);
    button->setIcon(picture);
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setGeometry(geometry);
    return button;
}

QPlainTextEdit *makeTextBox(QWidget *parent, const char *name, const QString &accessibleName, const QRect &geometry)
{
    auto *box = new TextBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setAccessibleName(accessibleName);
    box->setGeometry(geometry);
    return box;
}

PickCombo::PickCombo(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    // The field keeps what the user typed: no completion from the list.
    setCompleter(nullptr);
    // QComboBox takes Return, and the end of editing (Tab, a click elsewhere,
    // closing the window), as a choice of the entry that matches the typed
    // text. Here only a choice from the list is one.
    disconnect(lineEdit(), &QLineEdit::returnPressed, this, nullptr);
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    // What stays of activated(): a click, or Return, in the opened list.
    connect(this, &QComboBox::activated, this, &PickCombo::picked);
}

// QComboBox shows the current entry's text again whenever that entry's data
// changes; a new tooltip is no pick, so the field keeps what it showed.
void PickCombo::setEntryToolTip(int entry, const QString &toolTip)
{
    if (itemData(entry, Qt::ToolTipRole).toString() == toolTip)
        return;
    const QString shown = currentText();
    setItemData(entry, toolTip, Qt::ToolTipRole);
    if (currentText() != shown)
        setEditText(shown);
}

int PickCombo::shownEntry() const { return findText(currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive); }

void PickCombo::step(int direction)
{
    const int shown = shownEntry();
    const int next = shown < 0 ? 0 : shown + direction;
    if (next < 0 || next >= count())
        return;
    setCurrentIndex(next);
    setEditText(itemText(next)); // also when the list position was already there
    emit picked();
}

void PickCombo::showPopup()
{
    // The list position stays where the program or the last pick left it;
    // the user expects the list to open on what the field shows.
    const int shown = shownEntry();
    if (shown >= 0)
        setCurrentIndex(shown);
    QComboBox::showPopup();
    if (shown < 0)
        view()->selectionModel()->clear();
}

void PickCombo::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const bool up = key == Qt::Key_Up || key == Qt::Key_PageUp;
    const bool down = key == Qt::Key_Down || key == Qt::Key_PageDown;
    if (!up && !down) {
        QComboBox::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->modifiers() & Qt::AltModifier)
        showPopup();
    else if (!(event->modifiers() & Qt::ControlModifier))
        step(up ? -1 : 1);
}

void PickCombo::wheelEvent(QWheelEvent *event)
{
    event->accept();
    const int delta = event->angleDelta().y();
    if (delta != 0 && !view()->isVisible())
        step(delta > 0 ? -1 : 1);
}

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFocusPolicy(Qt::StrongFocus);
    setTabChangesFocus(true);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setFont(msPGothic(12));
    followPalette();
}

void TextBox::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        followPalette();
}

void TextBox::followPalette()
{
    // The background this box would have without a colour of its own.
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette(this);
    const QColor base = isDark(inherited) ? inherited.color(QPalette::Base) : ClassicBorderGrey;
    if (palette().color(QPalette::Base) == base)
        return;
    QPalette own = palette();
    own.setColor(QPalette::Base, base);
    setPalette(own);
}

QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

SeparatorLine::SeparatorLine(const QColor &color, QWidget *parent) : QWidget(parent), m_color(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void SeparatorLine::setEnds(QPointF from, QPointF to)
{
    m_from = from;
    m_to = to;
    const QPoint a(toPixels(from.x()), toPixels(from.y()));
    const QPoint b(toPixels(to.x()), toPixels(to.y()));
    setGeometry(QRect(a, b).normalized());
    update();
}

void SeparatorLine::paintEvent(QPaintEvent *)
{
    // The widget is the line's bounding box, one pixel thick: filling it draws
    // the line. A pen of width 1 along its edge would cover only half a pixel
    // on each side and vanish at some display scales.
    QPainter painter(this);
    painter.fillRect(rect(), m_color);
}

ClockPanel::ClockPanel(QWidget *parent) : QLabel(parent), m_timer(new QTimer(this))
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setAlignment(Qt::AlignCenter);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::CoarseTimer);
    connect(m_timer, &QTimer::timeout, this, &ClockPanel::tick);
    tick();
}

void ClockPanel::tick()
{
    const QTime now = QTime::currentTime();
    setText(now.toString(QStringLiteral("H:mm")));
    // Wake just after the next minute begins.
    m_timer->start((60 - now.second()) * 1000 - now.msec() + 50);
}

StatusBar::StatusBar(QWidget *parent) : QWidget(parent), m_message(sunkenPanel(this)), m_clock(new ClockPanel(this))
{
    m_message->setObjectName(QStringLiteral("Panel1"));
    m_clock->setObjectName(QStringLiteral("Panel2"));
    m_message->setGeometry(0, 2, toPixels(MessagePanelTwips), toPixels(420) - 2);
    m_message->setMinimumWidth(toPixels(MessagePanelMinimumTwips));
    m_clock->setGeometry(toPixels(MessagePanelTwips) + 2, 2, toPixels(ClockPanelTwips), toPixels(420) - 2);
    m_clock->setMinimumWidth(toPixels(ClockPanelTwips));
}
