#include "ProgressRules.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

struct Refused {};

// A range whose minimum is not below its maximum is refused; a value left
// outside a new range is pulled into it.
void setMinimum(ProgressState &bar, double v)
{
    const float m = static_cast<float>(v);
    if (!(m < bar.maximum))
        throw Refused{};
    bar.minimum = m;
    bar.value = std::max(bar.value, m);
}

void setMaximum(ProgressState &bar, double v)
{
    const float m = static_cast<float>(v);
    if (!(m > bar.minimum))
        throw Refused{};
    bar.maximum = m;
    bar.value = std::min(bar.value, m);
}

void setValue(ProgressState &bar, double v)
{
    const float x = static_cast<float>(v);
    if (x < bar.minimum || x > bar.maximum)
        throw Refused{};
    bar.value = x;
}

// Rounds to the nearest whole number, an exact half to the even neighbour,
// and refuses what does not fit a 32-bit whole number.
std::int32_t roundHalfEven(double x)
{
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(x);
    std::fesetround(saved);
    if (!std::isfinite(r) || r < std::numeric_limits<std::int32_t>::min()
        || r > std::numeric_limits<std::int32_t>::max())
        throw Refused{};
    return static_cast<std::int32_t>(r);
}

bool atStep(double ppos, double step)
{
    const std::int32_t divisor = roundHalfEven(step);
    if (divisor == 0)
        throw Refused{};
    const std::int64_t dividend = roundHalfEven(ppos);
    return dividend % divisor == 0;
}

} // namespace

ProgressRules::Effect ProgressRules::apply(ProgressState &bar, const QString &pmode, double pmin, double pmax,
                                           double ppos)
{
    const QString mode = pmode.toUpper();
    const ProgressState before = bar;
    try {
        if (mode == QLatin1String("OFF") || pmax <= ppos) {
            setValue(bar, pmin);
            return Effect::Reset;
        }
        if (mode != QLatin1String("ON"))
            return Effect::Unchanged;
        const double step = pmax / 100.0;
        if (std::floor(step) == 0 || !atStep(ppos, step))
            return Effect::Unchanged;
        setMinimum(bar, pmin);
        setMaximum(bar, pmax);
        setValue(bar, ppos);
        bar.visible = true;
        return Effect::Moved;
    } catch (const Refused &) {
        const bool changed = before.minimum != bar.minimum || before.maximum != bar.maximum
                             || before.value != bar.value || before.visible != bar.visible;
        return changed ? Effect::Moved : Effect::Unchanged;
    }
}
