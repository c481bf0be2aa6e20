// The window's small custom controls: a separator line placed in twips and the
// status bar with its message and clock panels.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPointF>
#include <QWidget>

class QComboBox;
class QIcon;
class QPlainTextEdit;
class QTimer;
class QToolButton;

// Twips: 1/1440 inch; 15 of them make one pixel at 96 dots per inch.
constexpr double TwipsPerPixel = 15.0;
QRect twipsRect(int left, int top, int width, int height);

// Fonts: the platform's Japanese user-interface font, and "ＭＳ Ｐゴシック"
// (or the nearest Gothic) at the given size.
QFont userInterfaceFont();
QFont msPGothic(double points);

// The window's controls, each placed by its geometry in pixels.
QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, const QRect &geometry);
QComboBox *makeCombo(QWidget *parent, const char *name, const QRect &geometry);
QToolButton *makePictureButton(QWidget *parent, const char *name, const QString &caption, const QIcon &picture,
                               const QRect &geometry);
QPlainTextEdit *makeTextBox(QWidget *parent, const char *name, const QRect &geometry);
// A picture of the window's resources: name.xpm, with name-16.xpm as its small form.
QIcon picture(const QString &name, bool hasSmall);

// A one-pixel solid line between two points given in twips.
class SeparatorLine : public QWidget {
    Q_OBJECT
public:
    SeparatorLine(const QColor &color, QWidget *parent);
    void setEnds(QPointF from, QPointF to);  // twips
    QPointF from() const { return m_from; }
    QPointF to() const { return m_to; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
    QPointF m_from;
    QPointF m_to;
};

// Shows the time of day as hours and minutes, and keeps itself up to date.
class ClockPanel : public QLabel {
    Q_OBJECT
public:
    explicit ClockPanel(QWidget *parent);

private:
    void tick();
    QTimer *m_timer;
};

// The status bar along the bottom: panel 1 for messages, panel 2 the clock.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget *parent);
    QLabel *messagePanel() const { return m_message; }
    ClockPanel *clockPanel() const { return m_clock; }

private:
    QLabel *m_message;
    ClockPanel *m_clock;
};
