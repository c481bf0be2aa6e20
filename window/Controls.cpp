#include "Controls.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QTime>
#include <QTimer>
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

// Qt takes Enter in an editable combo box as a pick of the matching list
// entry; here only a pick from the list is one, so Enter stays with the text.
class EnterIsTyping : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter)
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

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

QComboBox *makeCombo(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *combo = new QComboBox(parent);
    combo->setObjectName(QLatin1String(name));
    combo->setGeometry(geometry);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->lineEdit()->installEventFilter(new EnterIsTyping(combo));
    combo->setEditText(QStringLiteral("?"));
    return combo;
}

QIcon picture(const QString &name, bool hasSmall)
{
    QIcon icon(QStringLiteral(":/pictures/%1.xpm").arg(name));
    if (hasSmall)
        icon.addFile(QStringLiteral(":/pictures/%1-16.xpm").arg(name), QSize(16, 16));
    return icon;
}

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

QPlainTextEdit *makeTextBox(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *box = new QPlainTextEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(geometry);
    box->setReadOnly(true);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setFocusPolicy(Qt::StrongFocus);
    box->setTabChangesFocus(true);
    box->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    box->setFont(msPGothic(12));
    // The classic scheme's colour of active window borders: a light grey.
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, QColor(212, 208, 200));
    box->setPalette(palette);
    return box;
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
    QPainter painter(this);
    painter.setPen(QPen(m_color, 1, Qt::SolidLine));
    const QPoint origin = geometry().topLeft();
    painter.drawLine(QPoint(toPixels(m_from.x()), toPixels(m_from.y())) - origin,
                     QPoint(toPixels(m_to.x()), toPixels(m_to.y())) - origin);
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
