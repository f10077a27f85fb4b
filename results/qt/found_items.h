// Found items: one MyImageObject per item a scan reports, kept in the order of
// finding in a FoundItemList. The scan thread appends while the window reads,
// and the thumbnail worker fills in pictures later, so every access goes
// through the list's lock and readers get copies (Qt's implicit sharing keeps
// those copies cheap).
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QSize>
#include <QString>
#include <QVariant>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tamberlin::results {

// How an item offers its picture to a browser.
enum class RepresentationType {
  Data,   // encoded image bytes (photo mode)
  Image,  // a ready image (video and raw-file modes)
};

class MyImageObject {
 public:
  MyImageObject() = default;

  // A video or raw item: its file-type icon and sectors [start, end).
  static MyImageObject initWithImage(const QIcon& image, const QString& image_Name,
                                     const QString& image_UID, std::uint64_t File_Start_Sec,
                                     std::uint64_t File_End_Sec);
  // A photo item: its thumbnail bytes (or the placeholder); sectors stay 0.
  static MyImageObject initWithImage_data(const QByteArray& data, const QString& image_Name,
                                          const QString& image_UID);

  void setPath(const QString& p) { path = p; }

  // What a browser asks of an item; `mode` is Recovery_MODE at the time of
  // the call (0 photo, 1 video, 2 raw file).
  const QString& imageUID() const { return image_UID; }
  static RepresentationType imageRepresentationType(int mode) {
    return mode == 0 ? RepresentationType::Data : RepresentationType::Image;
  }
  // QByteArray in photo mode, QIcon otherwise.
  QVariant imageRepresentation(int mode) const;
  const QString& imageTitle() const { return image_Name; }
  const QString& imageSubtitle() const { return image_Name; }

  // Reads by key: "path" (QString), "File_Start_Sector" and "File_End_Sector"
  // (quint64); any other key gives an invalid QVariant.
  QVariant valueForKey(const QString& key) const;

  QByteArray imageData;
  QString path;
  QIcon image;
  QString image_Name;
  QString image_UID;
  std::uint64_t File_Start_Sector = 0;
  std::uint64_t File_End_Sector = 0;

  // Where a photo lies on the medium, for saving it later; 0 for other items.
  std::uint64_t First_Sector = 0;
  std::uint64_t Sector_Count = 0;
  // True while a photo's thumbnail is still being made.
  bool thumbnail_pending = false;
  // A photo's width and height as shown (orientation applied); invalid when
  // unknown.
  QSize picture_size;

  // The sector the item starts at on the medium: First_Sector for a photo,
  // File_Start_Sector for a video or raw item. None for an item that covers
  // no sectors, which can be the same file as no other.
  std::optional<std::uint64_t> Medium_Start() const;
};

// The ordered, lock-guarded list of found items (the window's `images`).
class FoundItemList {
 public:
  // Where an appended item sits: its row in the list generation it joined.
  struct Slot {
    std::size_t row = 0;
    std::uint64_t generation = 0;
  };
  Slot Append(MyImageObject item);
  // Empties the list. Rows handed out before no longer name items: any
  // later Set_Image_Data / Set_Image for them is ignored.
  void Clear();

  // Fills in a photo's picture (and clears thumbnail_pending) or an item's
  // icon. A slot from before the last Clear changes nothing. Returns whether
  // the item was changed.
  bool Set_Image_Data(Slot slot, const QByteArray& data);
  bool Set_Image(Slot slot, const QIcon& image);

  std::size_t size() const;
  std::optional<MyImageObject> At(std::size_t row) const;
  std::vector<MyImageObject> Snapshot() const;
  // Raised by every Clear.
  std::uint64_t Generation() const;

 private:
  mutable std::mutex mutex_;
  std::vector<MyImageObject> items_;
  std::uint64_t generation_ = 0;
};

}  // namespace tamberlin::results
