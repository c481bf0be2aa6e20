// The window's small custom controls: the pick-only combo box, the read-only
// text box, a separator line placed in twips and the status bar with its
// message and clock panels.
#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointF>
#include <QWidget>

class QIcon;
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
class PickCombo;
PickCombo *makeCombo(QWidget *parent, const char *name, const QRect &geometry);
QToolButton *makePictureButton(QWidget *parent, const char *name, const QString &caption, const QIcon &picture,
                               const QRect &geometry);
QPlainTextEdit *makeTextBox(QWidget *parent, const char *name, const QString &accessibleName, const QRect &geometry);
// A picture of the window's resources, drawn from name.svg at any size.
QIcon picture(const QString &name);

// A drop-down combo box with an editable field in which only a choice from
// the list counts: a click in the opened list, the arrow keys or the wheel on
// the field. Each of them emits picked(). Typing, and leaving the field after
// typing in any way, emit nothing. The keys and the wheel step from the entry
// that the field shows; from a text that is no entry they pick the first one.
class PickCombo : public QComboBox {
    Q_OBJECT
public:
    explicit PickCombo(QWidget *parent);
    // Opens the list on the entry that the field shows.
    void showPopup() override;
    // An entry's tooltip; the field keeps its text.
    void setEntryToolTip(int entry, const QString &toolTip);

signals:
    void picked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    int shownEntry() const;
    void step(int direction);
};

// A read-only, multi-line text box on a light grey, as the kit's users know
// it; under a dark palette its background follows the palette instead, so
// that the palette's light text stays readable.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent);

protected:
    void changeEvent(QEvent *event) override;

private:
    void followPalette();
};

// A one-pixel solid line, horizontal or vertical, between two points given in
// twips. It covers whole device pixels at any display scale.
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
