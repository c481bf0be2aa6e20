#include "Controls.h"

#include <QPainter>
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
} // namespace

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
