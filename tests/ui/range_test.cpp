// The scan range screen: the radios, sliders and texts kept in step (also on
// media past the int range of a slider), and the checks Next makes.
#include "help_texts.h"
#include "range_slider.h"
#include "window_fixture.h"

using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

constexpr quint64 k2TbSectors = 3907029168ull;  // a 2 TB disk

QString Set(bool sig) { return sig ? QStringLiteral("_Sig") : QString(); }

}  // namespace

class RangeTest : public QObject {
  Q_OBJECT

 private slots:
  void slider_mapping_data() {
    QTest::addColumn<quint64>("count");
    QTest::addColumn<quint64>("sector");
    QTest::newRow("small medium") << quint64{100} << quint64{37};
    QTest::newRow("exactly int max") << quint64{2147483647} << quint64{2147483646};
    QTest::newRow("2 TB, first") << k2TbSectors << quint64{0};
    QTest::newRow("2 TB, middle") << k2TbSectors << quint64{1234567891};
    QTest::newRow("2 TB, past int") << k2TbSectors << quint64{3000000000};
    QTest::newRow("2 TB, last") << k2TbSectors << k2TbSectors - 1;
    QTest::newRow("2 TB, end") << k2TbSectors << k2TbSectors;
    QTest::newRow("largest count") << ~quint64{0} << (~quint64{0} >> 1) + 12345;
  }
  void slider_mapping() {
    QFETCH(quint64, count);
    QFETCH(quint64, sector);
    const int top = Slider_Top(count);
    QCOMPARE(Slider_Sector(top, count), count);  // the end of the slider is the medium's end
    QCOMPARE(Slider_Sector(0, count), quint64{0});
    const int p = Slider_Position(sector, count);
    QVERIFY(p >= 0 && p <= top);
    QVERIFY(Slider_Sector(p, count) >= sector);
    if (p > 0) QVERIFY(Slider_Sector(p - 1, count) < sector);  // the nearest position
    QCOMPARE(Slider_Position(Slider_Sector(p, count), count), p);
  }

  void radios_data() {
    QTest::addColumn<bool>("sig");
    QTest::newRow("photo set") << false;
    QTest::newRow("_Sig set") << true;
  }
  void radios() {
    QFETCH(bool, sig);
    Window_Fixture f;
    f.To_Range_Screen(sig ? 2 : 0);
    const QString s = Set(sig);
    f.Find<QRadioButton>("_sector_range_rd" + s)->click();
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kSectorRangeHelp));
    QVERIFY(f.Find<QRadioButton>("_sector_range_rd" + s)->isChecked());
    QVERIFY(!f.Find<QRadioButton>("_entire_disk_rd" + s)->isChecked());
    QVERIFY(f.Shown("_range_group" + s));
    QVERIFY(!f.Shown("_disk_info_group" + s));

    // Whatever was entered goes when Sector Range is chosen again.
    f.Find<QSlider>("_Start_Slider" + s)->setValue(500);
    f.Find<QLineEdit>("_End_slider_val" + s)->setText(QStringLiteral("900"));
    f.Find<QRadioButton>("_sector_range_rd" + s)->click();
    QCOMPARE(f.Text("_Start_slider_val" + s), QStringLiteral("0"));
    QCOMPARE(f.Text("_End_slider_val" + s), QStringLiteral("7831552"));
    QCOMPARE(f.Find<QSlider>("_Start_Slider" + s)->value(), 0);
    QCOMPARE(f.Find<QSlider>("_End_Slider" + s)->value(), 7831552);
    for (const char* name : {"_Start_Sec_Min_val", "_End_Sec_Min_val"}) QCOMPARE(f.Text(name + s), QStringLiteral("0"));
    for (const char* name : {"_Start_Sec_Max_val", "_End_Sec_Max_val"})
      QCOMPARE(f.Text(name + s), QStringLiteral("7831552"));

    f.Find<QRadioButton>("_entire_disk_rd" + s)->click();
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kEntireDiskHelp));
    QVERIFY(!f.Find<QRadioButton>("_sector_range_rd" + s)->isChecked());
    QVERIFY(!f.Shown("_range_group" + s));
    QVERIFY(f.Shown("_disk_info_group" + s));
  }

  void sliders_and_texts_data() {
    QTest::addColumn<bool>("sig");
    QTest::addColumn<quint64>("count");
    QTest::newRow("photo set, 4 GB stick") << false << quint64{7831552};
    QTest::newRow("_Sig set, 4 GB stick") << true << quint64{7831552};
    QTest::newRow("photo set, 2 TB disk") << false << k2TbSectors;
    QTest::newRow("_Sig set, 2 TB disk") << true << k2TbSectors;
  }
  void sliders_and_texts() {
    QFETCH(bool, sig);
    QFETCH(quint64, count);
    Window_Fixture f(count * 512);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    f.To_Range_Screen(sig ? 1 : 0);
    const QString s = Set(sig);
    const QString K = QString::number(count);
    f.Find<QRadioButton>("_sector_range_rd" + s)->click();
    auto* start_slider = f.Find<QSlider>("_Start_Slider" + s);
    auto* end_slider = f.Find<QSlider>("_End_Slider" + s);
    auto* start_text = f.Find<QLineEdit>("_Start_slider_val" + s);
    auto* end_text = f.Find<QLineEdit>("_End_slider_val" + s);
    QCOMPARE(end_slider->maximum(), Slider_Top(count));
    QCOMPARE(end_slider->value(), Slider_Top(count));
    QCOMPARE(end_text->text(), K);

    // Slider to text.
    start_slider->setValue(start_slider->maximum() / 3);
    QCOMPARE(start_text->text(), QString::number(Slider_Sector(start_slider->maximum() / 3, count)));
    end_slider->setValue(end_slider->maximum() - 1);
    end_slider->setValue(end_slider->maximum());
    QCOMPARE(end_text->text(), K);  // the last position is the whole medium, exactly

    // Text to slider; the text stays as typed.
    auto type = [](QLineEdit* field, const QString& text) {
      field->selectAll();
      QTest::keyClicks(field, text);
      QCOMPARE(field->text(), text);
    };
    const quint64 typed = count / 2 + 7;
    type(start_text, QString::number(typed));
    QCOMPARE(start_slider->value(), Slider_Position(typed, count));
    type(end_text, K);
    QCOMPARE(end_slider->value(), end_slider->maximum());

    // Past the medium: the slider stays where the last acceptable text put it.
    const QString over = QString::number(count + 1);
    type(end_text, over.chopped(1));
    const int before = end_slider->value();
    QTest::keyClicks(end_text, over.right(1));
    QCOMPARE(end_text->text(), over);
    QCOMPARE(end_slider->value(), before);
    // Not a number: the slider goes to 0.
    type(start_text, QStringLiteral("abc"));
    QCOMPARE(start_slider->value(), 0);

    // Moving the slider again overwrites what was typed.
    start_slider->setValue(5);
    QCOMPARE(start_text->text(), QString::number(Slider_Sector(5, count)));
    f.window->hide();
  }

  void checks_on_next_data() {
    QTest::addColumn<bool>("sig");
    QTest::addColumn<quint64>("count");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QString>("message");      // empty: the range is accepted
    QTest::addColumn<QString>("informative");
    QTest::addColumn<bool>("focus_end");
    const QString start_bad = QStringLiteral("\nPlease enter valid Start Sector value.");
    const QString end_bad = QStringLiteral("\nPlease enter valid End Sector value.");
    const QString exceeded = QStringLiteral("\nMaximum sector range exceeded");
    const QString order = QStringLiteral("\nEnd Sector should be greater than Start Sector.");
    const QString start_info = QStringLiteral("Please enter valid Start Sector value.");
    const QString end_info = QStringLiteral("Please enter valid End Sector value.");
    const quint64 k = 100;
    QTest::newRow("1 start empty") << false << k << "" << "50" << start_bad << "" << false;
    QTest::newRow("1 start trailing space") << true << k << "12 " << "50" << start_bad << "" << false;
    QTest::newRow("1 start negative") << false << k << "-5" << "50" << start_bad << "" << false;
    QTest::newRow("1 start exponent") << true << k << "1e3" << "50" << start_bad << "" << false;
    QTest::newRow("2 start longer than count") << false << k << "0007" << "50" << exceeded << start_info << false;
    QTest::newRow("3 start above count") << true << k << "101" << "50" << exceeded << start_info << false;
    QTest::newRow("4 end empty") << false << k << "0" << "" << end_bad << "" << true;
    QTest::newRow("4 end with letters") << true << k << "0" << "5x" << end_bad << "" << true;
    QTest::newRow("5 end longer than count") << false << k << "0" << "0100" << exceeded << end_info << true;
    QTest::newRow("6 end above count") << true << k << "0" << "101" << exceeded << end_info << true;
    QTest::newRow("7 end equals start") << false << k << "50" << "50" << order << "" << true;
    QTest::newRow("7 end before start") << true << k << "60" << "59" << order << "" << true;
    QTest::newRow("6 end one past a 2 TB disk")
        << true << k2TbSectors << "0" << "3907029169" << exceeded << end_info << true;
    QTest::newRow("7 past 32 bits, end before start")
        << false << k2TbSectors << "3000000001" << "3000000000" << order << "" << true;
    QTest::newRow("whole medium") << true << k << "0" << "100" << "" << "" << false;
    QTest::newRow("leading zeros within length") << true << k << "007" << "100" << "" << "" << false;
    QTest::newRow("past 32 bits on a 2 TB disk")
        << true << k2TbSectors << "2147483648" << "3907029168" << "" << "" << false;
  }
  void checks_on_next() {
    QFETCH(bool, sig);
    QFETCH(quint64, count);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QString, message);
    QFETCH(QString, informative);
    QFETCH(bool, focus_end);
    Window_Fixture f(count * 512);
    f.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
    // Photo rows only ever fail, so no scan starts.
    f.To_Range_Screen(sig ? 2 : 0);
    const QString s = Set(sig);
    f.Find<QRadioButton>("_sector_range_rd" + s)->click();
    f.Find<QLineEdit>("_Start_slider_val" + s)->setText(start);
    f.Find<QLineEdit>("_End_slider_val" + s)->setText(end);
    Modal_Watcher watcher;
    f.window->Next_btn();
    if (message.isEmpty()) {
      QVERIFY(watcher.seen.empty());
      QCOMPARE(f.window->screen_counter, 2);
      f.window->hide();
      return;
    }
    QCOMPARE(watcher.seen.size(), std::size_t{1});
    QCOMPARE(watcher.seen[0].text, message);
    QCOMPARE(watcher.seen[0].informative, informative);
    QCOMPARE(f.window->screen_counter, 1);
    QWidget* field = f.Find<QLineEdit>((focus_end ? "_End_slider_val" : "_Start_slider_val") + s);
    QCOMPARE(f.window->focusWidget(), field);
    // Nothing the user entered is lost.
    QCOMPARE(f.Text("_Start_slider_val" + s), start);
    QCOMPARE(f.Text("_End_slider_val" + s), end);
    QVERIFY(f.Find<QRadioButton>("_sector_range_rd" + s)->isChecked());
    f.window->hide();
  }
};

QTEST_MAIN(RangeTest)
#include "range_test.moc"
