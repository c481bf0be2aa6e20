// The progress bar's rules, kept apart from the widget so that they can be
// driven and checked without a window.
#pragma once

#include <QString>

// The bar as the rules see it: single-precision range and value, visibility.
// A write the bar refuses (a value outside the range, a minimum not below the
// maximum) fails, as a real bar's would, and ends the call.
struct ProgressState {
    float minimum = 0;
    float maximum = 100;
    float value = 0;
    bool visible = true;
};

class ProgressRules {
public:
    enum class Effect {
        Unchanged,   // nothing changed
        Reset,       // the value fell back to pmin: the caller processes pending events
        Moved,       // range, value or visibility changed (a refused write keeps those before it)
    };

    // Applies one msgProgressBar call to the state. Never throws: a failure
    // ends the call silently, keeping the writes made before it.
    static Effect apply(ProgressState &bar, const QString &pmode, double pmin, double pmax, double ppos);
};
