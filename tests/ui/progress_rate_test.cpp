// Speed, time left and elapsed time from progress samples: the window of
// the last seconds, a pass that starts again, and samples that give no speed.
#include <QtTest>

#include "ui/progress_rate.h"

using tamberlin::ui::ProgressRate;

using Samples = QList<QPair<double, quint64>>;

class ProgressRateTest : public QObject {
  Q_OBJECT

 private slots:
  void rate_data() {
    QTest::addColumn<Samples>("samples");  // (seconds, bytes done in the pass)
    QTest::addColumn<double>("speed");     // bytes per second, -1 none
    QTest::addColumn<double>("left");      // seconds to 100 MB, -1 none
    QTest::addColumn<double>("elapsed");
    QTest::newRow("one sample") << Samples{{3, 0}} << -1.0 << -1.0 << 0.0;
    QTest::newRow("same instant twice") << Samples{{1, 0}, {1, 100}} << -1.0 << -1.0 << 0.0;
    QTest::newRow("steady") << Samples{{0, 0}, {1, 10e6}, {2, 20e6}} << 10e6 << 8.0 << 2.0;
    // A slow start drops out of the 5-second window.
    QTest::newRow("window") << Samples{{0, 0}, {5, 5e6}, {6, 15e6}, {10, 55e6}} << 10e6 << 4.5 << 10.0;
    // The thorough pass reads from the start again: a new speed, the same clock.
    QTest::newRow("next pass") << Samples{{0, 0}, {2, 90e6}, {3, 1e6}, {4, 6e6}} << 5e6 << 18.8 << 4.0;
    QTest::newRow("stalled") << Samples{{0, 5e6}, {1, 5e6}} << 0.0 << -1.0 << 1.0;
    QTest::newRow("done") << Samples{{0, 0}, {1, 100e6}} << 100e6 << 0.0 << 1.0;
  }
  void rate() {
    QFETCH(Samples, samples);
    QFETCH(double, speed);
    QFETCH(double, left);
    QFETCH(double, elapsed);
    ProgressRate rate(5.0);
    for (const auto& [seconds, bytes] : samples) rate.Add(seconds, bytes);
    QCOMPARE(rate.Bytes_Per_Second().value_or(-1), speed);
    QCOMPARE(qRound(rate.Seconds_Left(100000000).value_or(-1) * 10) / 10.0, left);
    QCOMPARE(rate.Elapsed(), elapsed);
  }

  void durations() {
    const QPair<double, QString> cases[] = {{-2, "0:00"}, {59.6, "1:00"}, {3599, "59:59"}, {3600, "1:00:00"}};
    for (const auto& [seconds, text] : cases) QCOMPARE(tamberlin::ui::Format_Duration(seconds), text);
  }
};

QTEST_APPLESS_MAIN(ProgressRateTest)
#include "progress_rate_test.moc"
