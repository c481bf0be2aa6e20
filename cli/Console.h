// Where the command line's output goes. Status texts and results on stdout,
// message texts and reasons on stderr, progress bars on stderr when it is a
// terminal; --quiet keeps only results and errors, --json turns stdout into
// JSON. A closed stdout (a pipe whose reader went away) never stops the work.
#pragma once

#include "CliPlatform.h"

#include <QJsonObject>
#include <QMap>
#include <QString>

class Console {
public:
    enum class Mode { Human, Quiet, Json };

    explicit Console(Mode mode);

    Mode mode() const { return m_mode; }
    bool json() const { return m_mode == Mode::Json; }

    // A status text or other progress line (not in quiet or JSON mode).
    void status(const QString &line);
    // A result: printed in every mode but JSON.
    void result(const QString &line);
    // A line on stdout in every mode (what the port commands print).
    void line(const QString &text);
    // A message box's text or a note for the user on stderr (not in quiet mode).
    void note(const QString &text);
    // An error on stderr, in every mode, as it stands: a reason that names
    // its own file or port.
    void error(const QString &text);
    // An error in the program's own words: its name goes before it.
    void programError(const QString &text);
    // A command line the program cannot follow: the program's error and
    // where to read how. Returns the exit status for it.
    int usageError(const QString &text);
    // A note in the program's own words (not in quiet mode).
    void programNote(const QString &text);
    // One JSON document or JSON line on stdout (JSON mode only).
    void jsonLine(const QJsonObject &object);
    void jsonDocument(const QJsonDocument &document);
    // A piece of one JSON document written in pieces (a long list).
    void jsonText(const QString &text);

    // Progress bars, one line each, drawn on a terminal only.
    int addBar(const QString &label);
    void setBar(int bar, int done, int total);
    // The bar at 100 % with the time it took.
    void finishBar(int bar, double seconds);
    void removeBar(int bar);

private:
    static QString fromProgram(const QString &text);

    struct Bar {
        QString label;
        int percent = -1; // -1: nothing to show yet
        QString tail;
    };

    bool drawsBars() { return m_mode == Mode::Human && m_err.followsEscapes(); }
    void write(OutputStream &stream, const QString &text);
    void eraseBars();
    void drawBars();
    QString barLine(const Bar &bar) const;

    Mode m_mode;
    OutputStream m_out;
    OutputStream m_err;
    QMap<int, Bar> m_bars;
    int m_nextBar = 0;
    int m_barsDrawn = 0; // lines of bars on the screen now
};
