// The progress bar's rules, driven without a window.
#include "ProgressRules.h"

#include <QtTest>

using Effect = ProgressRules::Effect;
Q_DECLARE_METATYPE(ProgressRules::Effect)

class ProgressRulesTest : public QObject {
    Q_OBJECT
private slots:
    void apply_data();
    void apply();
};

void ProgressRulesTest::apply_data()
{
    QTest::addColumn<float>("startMin");
    QTest::addColumn<float>("startMax");
    QTest::addColumn<float>("startValue");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<double>("pmin");
    QTest::addColumn<double>("pmax");
    QTest::addColumn<double>("ppos");
    QTest::addColumn<float>("endMin");
    QTest::addColumn<float>("endMax");
    QTest::addColumn<float>("endValue");
    QTest::addColumn<Effect>("effect");

    // start range/value          mode     pmin  pmax   ppos     end range/value
    QTest::newRow("first word shows the update's range") << 0.f << 100.f << 0.f << "on" << 0. << 7936. << 0. << 0.f << 7936.f << 0.f << Effect::Moved;
    QTest::newRow("158 is a whole step of 79") << 0.f << 7936.f << 79.f << "on" << 0. << 7936. << 158. << 0.f << 7936.f << 158.f << Effect::Moved;
    QTest::newRow("159 is between steps") << 0.f << 7936.f << 79.f << "on" << 0. << 7936. << 159. << 0.f << 7936.f << 79.f << Effect::Unchanged;
    QTest::newRow("last step 7900") << 0.f << 7936.f << 79.f << "on" << 0. << 7936. << 7900. << 0.f << 7936.f << 7900.f << Effect::Moved;
    QTest::newRow("7935 is between steps") << 0.f << 7936.f << 7900.f << "on" << 0. << 7936. << 7935. << 0.f << 7936.f << 7900.f << Effect::Unchanged;
    QTest::newRow("7936 resets to pmin") << 0.f << 7936.f << 7900.f << "on" << 0. << 7936. << 7936. << 0.f << 7936.f << 0.f << Effect::Reset;
    QTest::newRow("On 9000 resets") << 0.f << 7936.f << 158.f << "On" << 0. << 7936. << 9000. << 0.f << 7936.f << 0.f << Effect::Reset;
    QTest::newRow("off resets, range kept") << 0.f << 7936.f << 500.f << "off" << 0. << 0. << 0. << 0.f << 7936.f << 0.f << Effect::Reset;
    QTest::newRow("Off in any case") << 0.f << 7936.f << 500.f << "Off" << 0. << 7936. << 10. << 0.f << 7936.f << 0.f << Effect::Reset;
    QTest::newRow("oN in any case") << 0.f << 100.f << 0.f << "oN" << 0. << 7936. << 79. << 0.f << 7936.f << 79.f << Effect::Moved;
    QTest::newRow("'off ' is no mode word") << 0.f << 7936.f << 500.f << "off " << 0. << 7936. << 100. << 0.f << 7936.f << 500.f << Effect::Unchanged;
    QTest::newRow("' on' is no mode word") << 0.f << 100.f << 0.f << " on" << 0. << 7936. << 79. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("empty mode word") << 0.f << 100.f << 0.f << "" << 0. << 7936. << 79. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("reset test applies to any mode word") << 0.f << 7936.f << 500.f << "xyz" << 0. << 10. << 10. << 0.f << 7936.f << 0.f << Effect::Reset;
    QTest::newRow("range 0-50: step below 1") << 0.f << 100.f << 0.f << "on" << 0. << 50. << 10. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("range 0-99: step below 1") << 0.f << 100.f << 0.f << "on" << 0. << 99. << 10. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("range 0-120: step 1") << 0.f << 100.f << 0.f << "on" << 0. << 120. << 7. << 0.f << 120.f << 7.f << Effect::Moved;
    QTest::newRow("step 2.5 rounds to 2: 4 moves") << 0.f << 100.f << 0.f << "on" << 0. << 250. << 4. << 0.f << 250.f << 4.f << Effect::Moved;
    QTest::newRow("step 2.5 rounds to 2: 5 stays") << 0.f << 100.f << 0.f << "on" << 0. << 250. << 5. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("step 3.5 rounds to 4: 8 moves") << 0.f << 100.f << 0.f << "on" << 0. << 350. << 8. << 0.f << 350.f << 8.f << Effect::Moved;
    QTest::newRow("step 3.5 rounds to 4: 6 stays") << 0.f << 100.f << 0.f << "on" << 0. << 350. << 6. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("position 158.5 rounds to 158, value unrounded") << 0.f << 7936.f << 0.f << "on" << 0. << 7936. << 158.5 << 0.f << 7936.f << 158.5f << Effect::Moved;
    QTest::newRow("position 157.5 rounds to 158") << 0.f << 7936.f << 0.f << "on" << 0. << 7936. << 157.5 << 0.f << 7936.f << 157.5f << Effect::Moved;
    QTest::newRow("position 78.5 rounds to 78") << 0.f << 7936.f << 0.f << "on" << 0. << 7936. << 78.5 << 0.f << 7936.f << 0.f << Effect::Unchanged;
    QTest::newRow("reset below the bar's minimum is refused") << 10.f << 7936.f << 20.f << "off" << 0. << 0. << 0. << 10.f << 7936.f << 20.f << Effect::Unchanged;
    QTest::newRow("divisor rounding to 0 is refused") << 0.f << 100.f << 0.f << "on" << 0. << -30. << -40. << 0.f << 100.f << 0.f << Effect::Unchanged;
    QTest::newRow("position below pmin is refused after the range") << 0.f << 100.f << 0.f << "on" << 80. << 7936. << 79. << 80.f << 7936.f << 80.f << Effect::Moved;
    QTest::newRow("minimum not below the maximum is refused") << 0.f << 100.f << 0.f << "on" << 100. << 7936. << 79. << 0.f << 100.f << 0.f << Effect::Unchanged;
}

void ProgressRulesTest::apply()
{
    QFETCH(float, startMin);
    QFETCH(float, startMax);
    QFETCH(float, startValue);
    QFETCH(QString, mode);
    QFETCH(double, pmin);
    QFETCH(double, pmax);
    QFETCH(double, ppos);
    QFETCH(float, endMin);
    QFETCH(float, endMax);
    QFETCH(float, endValue);
    QFETCH(Effect, effect);

    ProgressState bar{startMin, startMax, startValue, true};
    QCOMPARE(ProgressRules::apply(bar, mode, pmin, pmax, ppos), effect);
    QCOMPARE(bar.minimum, endMin);
    QCOMPARE(bar.maximum, endMax);
    QCOMPARE(bar.value, endValue);
    QVERIFY(bar.visible);
}

QTEST_APPLESS_MAIN(ProgressRulesTest)
#include "tst_progress.moc"
