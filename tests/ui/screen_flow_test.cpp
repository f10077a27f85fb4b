// Next and Back through every screen in the three modes: what each move
// checks, shows, hides and resets.
#include <QCheckBox>

#include "help_texts.h"
#include "window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::ui;
using namespace tamberlin::ui::testing;

namespace {

const char* const kValueFields[] = {"_disk_val", "_vol_name_val", "_file_system_val", "_size_val",
                                    "_start_sector_entire_val", "_end_sector_entire_val"};

QString Set(int mode) { return mode == 0 ? QString() : QStringLiteral("_Sig"); }

// A window with a small disk image of JPEG and Word headers.
struct Flow_Fixture : Window_Fixture {
  Modal_Watcher watcher;
  QString image;
  Flow_Fixture() {
    image = Image(QStringLiteral("card.img"));
    Write_Image(image, 1024, {{8, Jpeg_Header()}, {300, Doc_Header()}});
    QVERIFY(window->Add_Image(image));
  }
  bool Button(const char* name) { return Find<QPushButton>(QLatin1String(name))->isEnabled(); }
};

}  // namespace

class ScreenFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void modes_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("photo") << 0;
    QTest::newRow("video") << 1;
    QTest::newRow("raw file") << 2;
  }

  void media_next_without_a_medium_data() { modes_data(); }
  void media_next_without_a_medium() {
    QFETCH(int, mode);
    Flow_Fixture f;
    f.Choose_Mode(mode);
    f.Find<QTableView>("idTableView")->clearSelection();
    f.window->Next_btn();
    QCOMPARE(f.watcher.Box_Texts(), QStringList{QString::fromUtf8(kNoMediumSelected)});
    QCOMPARE(f.window->screen_counter, 0);
    QVERIFY(f.Shown("_screen_media"));
    QCOMPARE(f.window->Recovery_MODE.load(), mode);
  }

  void media_next_fills_the_range_screen_data() { modes_data(); }
  void media_next_fills_the_range_screen() {
    QFETCH(int, mode);
    Flow_Fixture f;
    const QString s = Set(mode);
    // Leftovers of an earlier visit must not survive.
    f.Find<QRadioButton>("_sector_range_rd" + s)->setChecked(true);
    f.Find<QRadioButton>("_entire_disk_rd" + s)->setChecked(false);
    f.Find<QLineEdit>("_path" + s)->setText(QStringLiteral("/somewhere"));
    f.Find<QCheckBox>("_Thro_Mode_Chk")->setChecked(false);
    f.To_Range_Screen(mode);
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kEntireDiskHelp));
    QCOMPARE(f.Text("_Search_Type"), QString::fromUtf8(kSearchTypeTexts[mode]));
    QVERIFY(f.Shown("_Search_Type"));
    QVERIFY(f.Button("_back_btn"));
    QVERIFY(!f.Shown("_screen_media"));
    QVERIFY(f.Shown("_range_set" + (mode == 0 ? QStringLiteral("_Photo") : s)));
    QVERIFY(!f.Shown(mode == 0 ? "_range_set_Sig" : "_range_set_Photo"));
    QVERIFY(f.Find<QRadioButton>("_entire_disk_rd" + s)->isChecked());
    QVERIFY(!f.Find<QRadioButton>("_sector_range_rd" + s)->isChecked());
    QVERIFY(f.Shown("_disk_info_group" + s));
    QVERIFY(!f.Shown("_range_group" + s));
    QVERIFY(f.Text("_path" + s).isEmpty());
    QCOMPARE(f.Text("_disk_identifier"), QStringLiteral("sdb1"));
    QCOMPARE(f.Text("_disk_val" + s), QStringLiteral("sdb1"));
    QCOMPARE(f.Text("_vol_name_val" + s), QStringLiteral("STICK"));
    QCOMPARE(f.Text("_sectors_val"), QStringLiteral("7831552"));
    QCOMPARE(f.Text("_start_sector_entire_val" + s), QStringLiteral("0"));
    QCOMPARE(f.Text("_end_sector_entire_val" + s), QStringLiteral("7831552"));
    QCOMPARE(f.Text("_Start_slider_val" + s), QStringLiteral("0"));
    QCOMPARE(f.Text("_End_slider_val" + s), QStringLiteral("7831552"));
    QCOMPARE(f.Find<QSlider>("_End_Slider" + s)->value(), 7831552);
    if (mode == 0) QVERIFY(f.Find<QCheckBox>("_Thro_Mode_Chk")->isChecked());
  }

  void range_back_resets_data() { modes_data(); }
  void range_back_resets() {
    QFETCH(int, mode);
    Flow_Fixture f;
    f.To_Range_Screen(mode);
    const int reloads = f.runner->lsblk_calls;
    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 0);
    QCOMPARE(f.window->Recovery_MODE.load(), 0);
    QVERIFY(f.Find<QRadioButton>("_rec_mode_Photo")->isChecked());
    QVERIFY(!f.Find<QRadioButton>("_rec_mode_Video")->isChecked());
    QVERIFY(!f.Find<QRadioButton>("_rec_mode_RawFile")->isChecked());
    QVERIFY(f.runner->lsblk_calls > reloads);  // the media list was read again
    QVERIFY(!f.Shown("_Search_Type"));
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kMediaHelp));
    QVERIFY(!f.Button("_back_btn"));
    QVERIFY(f.Shown("_screen_media"));
    QVERIFY(!f.Shown("_screen_range"));
    QCOMPARE(f.Text("_sectors_val"), QStringLiteral("<None>"));
    QCOMPARE(f.Text("_disk_identifier"), QStringLiteral("<None>"));
    for (const QString& s : {QString(), QStringLiteral("_Sig")})
      for (const char* name : kValueFields) QCOMPARE(f.Text(name + s), QStringLiteral("<None>"));
    // Back on the media screen does nothing.
    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 0);
  }

  void range_next_to_file_types_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("video") << 1;
    QTest::newRow("raw file") << 2;
  }
  void range_next_to_file_types() {
    QFETCH(int, mode);
    Flow_Fixture f;
    f.To_Range_Screen(mode);
    f.Find<QCheckBox>("_Thro_Mode_Chk_SIG")->setChecked(false);
    f.Find<QCheckBox>("_select_unselect_Chk")->setChecked(false);
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(f.watcher.seen.empty());
    QVERIFY(f.Shown("_screen_filetypes"));
    QVERIFY(!f.Shown("_screen_range"));
    QVERIFY(!f.Shown("_progress_strip"));
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kFileTypeHelp));
    QVERIFY(f.Find<QCheckBox>("_Thro_Mode_Chk_SIG")->isChecked());
    QVERIFY(f.Find<QCheckBox>("_select_unselect_Chk")->isChecked());
    QVERIFY(!f.window->nsCheckedListDataObject().empty());
    QVERIFY(f.Button("_next_btn") && f.Button("_back_btn"));
    QVERIFY(!f.window->Scan_In_Progress());  // no scan before the types are chosen

    // Back: the range screen again, help from the radios.
    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 1);
    QVERIFY(f.Shown("_screen_range"));
    QVERIFY(!f.Shown("_screen_filetypes"));
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kEntireDiskHelp));
    f.Find<QRadioButton>("_sector_range_rd_Sig")->click();
    f.window->Next_btn();
    f.window->Back_btn();
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kSectorRangeHelp));
    QVERIFY(f.Shown("_range_group_Sig"));
  }

  void photo_results_and_back() {
    Flow_Fixture f;
    f.To_Range_Screen(0, f.image);
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(f.Shown("_screen_photo_results"));
    QVERIFY(f.Shown("_progress_strip"));
    QVERIFY(!f.Shown("_screen_range"));
    QVERIFY(f.window->Wait_For_Scan_End(60000));
    QCOMPARE(f.watcher.Count(QStringLiteral("SaveFile_Info_Window")), 1);
    QCOMPARE(f.window->Found_Item_Count(), 1);

    // Next on the photo results screen does nothing.
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QVERIFY(!f.window->Scan_In_Progress());

    f.Find<QSlider>("_zoom_slider")->setValue(90);
    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 1);
    QCOMPARE(f.window->Found_Item_Count(), 0);
    QVERIFY(f.Shown("_screen_range"));
    QVERIFY(!f.Shown("_screen_photo_results"));
    QVERIFY(!f.Shown("_zoom_slider") && !f.Shown("_zoom_label"));
    QCOMPARE(f.Find<QSlider>("_zoom_slider")->value(), 50);
    QCOMPARE(f.window->imageBrowser_zoom, 0.55);
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kEntireDiskHelp));
    QVERIFY(f.Button("_next_btn") && f.Button("_back_btn"));
    QCOMPARE(f.window->stop_now.load(), 0);
  }

  void raw_results_and_back_data() {
    QTest::addColumn<int>("mode");
    QTest::newRow("video") << 1;
    QTest::newRow("raw file") << 2;
  }
  void raw_results_and_back() {
    QFETCH(int, mode);
    Flow_Fixture f;
    f.To_Range_Screen(mode, f.image);
    f.window->Next_btn();
    f.window->setObjectValue(0, QStringLiteral("State"), 0);  // the user's choice, kept on return
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 3);
    QVERIFY(f.Shown("_screen_raw_results"));
    QVERIFY(!f.Shown("_screen_filetypes"));
    QCOMPARE(f.Shown("mMovieView"), mode == 1);
    QCOMPARE(f.Shown("_QuickLook_View"), mode == 2);
    QVERIFY(f.window->Wait_For_Scan_End(60000));
    QCOMPARE(f.watcher.Count(QStringLiteral("SaveFile_Info_For_RAW_Window")), 1);
    QVERIFY(f.Button("_back_btn"));
    QVERIFY(!f.Button("_next_btn"));

    // Next on the raw results screen does nothing.
    f.window->Next_btn();
    QCOMPARE(f.window->screen_counter, 3);

    f.window->Back_btn();
    QCOMPARE(f.window->screen_counter, 2);
    QCOMPARE(f.window->Found_Item_Count(), 0);
    QVERIFY(f.Shown("_screen_filetypes"));
    QVERIFY(!f.Shown("_screen_raw_results"));
    QVERIFY(!f.Shown("_progress_strip"));
    QCOMPARE(f.Text("_help_info"), QString::fromUtf8(kFileTypeHelp));
    QVERIFY(!f.window->nsCheckedListDataObject()[0].State);
    QVERIFY(f.Button("_next_btn") && f.Button("_back_btn"));
    QCOMPARE(f.window->imageBrowser_2_zoom, 0.05);
  }
};

QTEST_MAIN(ScreenFlowTest)
#include "screen_flow_test.moc"
