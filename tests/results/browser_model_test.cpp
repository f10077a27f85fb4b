// The found-item list and the browsers' model over it.
#include <QAbstractSlider>
#include <QIcon>
#include <QPixmap>
#include <QtTest>

#include "browser_model.h"
#include "found_items.h"
#include "test_images.h"
#include "thumbnails.h"

using namespace tamberlin::results;

class BrowserModelTest : public QObject {
  Q_OBJECT

 private slots:
  // Switching Recovery_MODE changes what every existing item offers.
  void Representation_Follows_The_Mode() {
    FoundItemList list;
    int mode = 0;
    FoundItemModel model(list, [&] { return mode; });
    QPixmap red(16, 16);
    red.fill(Qt::red);
    list.Append(MyImageObject::initWithImage_data(
        Make_Thumbnail(testing::Two_Colour_Jpeg(64, 64)), "GND00001.JPG", "uid-1"));
    auto raw = MyImageObject::initWithImage(QIcon(red), "DOC00001.DOC", "uid-2", 10, 20);
    raw.setPath("DOC00001.DOC");
    list.Append(raw);
    QCOMPARE(model.Reload(), 2);

    QCOMPARE(model.data(model.index(0), Qt::DecorationRole).userType(), int(QMetaType::QPixmap));
    QCOMPARE(MyImageObject::imageRepresentationType(0), RepresentationType::Data);
    QVERIFY(!model.itemAtIndex(0)->imageRepresentation(0).toByteArray().isEmpty());
    mode = 2;
    QCOMPARE(MyImageObject::imageRepresentationType(mode), RepresentationType::Image);
    QCOMPARE(model.data(model.index(1), Qt::DecorationRole).userType(), int(QMetaType::QIcon));
    QCOMPARE(model.data(model.index(1), Qt::DisplayRole).toString(), QString("DOC00001.DOC"));
    // A photo item has no icon to offer in the other modes.
    QVERIFY(qvariant_cast<QIcon>(model.data(model.index(0), Qt::DecorationRole)).isNull());
  }

  // Rows appear only when the model reloads, and an emptied list (even one
  // refilled since) resets the model rather than reusing stale rows.
  void Reload_Follows_The_List() {
    FoundItemList list;
    FoundItemModel model(list, [] { return 2; });
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    list.Append(MyImageObject::initWithImage({}, "A.DOC", "a", 0, 1));
    list.Append(MyImageObject::initWithImage({}, "B.DOC", "b", 1, 2));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.Reload(), 2);
    QCOMPARE(inserted.count(), 1);
    list.Clear();
    list.Append(MyImageObject::initWithImage({}, "C.DOC", "c", 0, 1));
    list.Append(MyImageObject::initWithImage({}, "D.DOC", "d", 1, 2));
    list.Append(MyImageObject::initWithImage({}, "E.DOC", "e", 2, 3));
    QCOMPARE(model.Reload(), 3);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.itemAtIndex(0)->image_UID, QString("c"));
    QVERIFY(!model.itemAtIndex(3));
  }

  // A thumbnail finished after the list was emptied must not land on the
  // item that now has that row.
  void Late_Thumbnail_After_Clear_Is_Dropped() {
    FoundItemList list;
    const auto old_slot = list.Append(MyImageObject::initWithImage_data({}, "OLD.JPG", "old"));
    list.Clear();
    list.Append(MyImageObject::initWithImage_data({}, "NEW.JPG", "new"));
    QVERIFY(!list.Set_Image_Data(old_slot, QByteArray("stale")));
    QVERIFY(list.At(0)->imageData.isEmpty());
    QVERIFY(list.Set_Image_Data({0, list.Generation()}, QByteArray("fresh")));
    QCOMPARE(list.At(0)->imageData, QByteArray("fresh"));
  }

  void Nothing_Can_Be_Dragged_Out() {
    FoundItemList list;
    FoundItemModel model(list, [] { return 0; });
    list.Append(MyImageObject::initWithImage_data(QByteArray("x"), "A.JPG", "a"));
    model.Reload();
    const QModelIndexList rows{model.index(0)};
    QCOMPARE(model.writeItemsAtIndexes(rows, nullptr), 0);
    QVERIFY(model.mimeData(rows) == nullptr);
    QVERIFY(!(model.flags(model.index(0)) & Qt::ItemIsDragEnabled));
    QVERIFY(!(model.flags(model.index(0)) & Qt::ItemIsEditable));
  }

  void Scroller_Steps_data() {
    QTest::addColumn<int>("action");
    QTest::addColumn<double>("step");  // 0: nothing is set
    QTest::newRow("page up") << int(QAbstractSlider::SliderPageStepSub) << -0.2;
    QTest::newRow("page down") << int(QAbstractSlider::SliderPageStepAdd) << 0.2;
    QTest::newRow("line up") << int(QAbstractSlider::SliderSingleStepSub) << -0.05;
    QTest::newRow("line down") << int(QAbstractSlider::SliderSingleStepAdd) << 0.05;
    QTest::newRow("knob") << int(QAbstractSlider::SliderMove) << 0.0;
    QTest::newRow("none") << int(QAbstractSlider::SliderNoAction) << 0.0;
    QTest::newRow("to end") << int(QAbstractSlider::SliderToMaximum) << 0.0;
  }
  void Scroller_Steps() {
    QFETCH(int, action);
    QFETCH(double, step);
    const auto got = Scroller_Step(action);
    QCOMPARE(got.has_value(), step != 0.0);
    if (got) QCOMPARE(*got, step);
  }
};

QTEST_MAIN(BrowserModelTest)
#include "browser_model_test.moc"
