#include "results/qt/found_items.h"

namespace tamberlin::results {

MyImageObject MyImageObject::initWithImage(const QIcon& image, const QString& image_Name,
                                           const QString& image_UID, std::uint64_t File_Start_Sec,
                                           std::uint64_t File_End_Sec) {
  MyImageObject item;
  item.image = image;
  item.image_Name = image_Name;
  item.image_UID = image_UID;
  item.File_Start_Sector = File_Start_Sec;
  item.File_End_Sector = File_End_Sec;
  return item;
}

MyImageObject MyImageObject::initWithImage_data(const QByteArray& data, const QString& image_Name,
                                                const QString& image_UID) {
  MyImageObject item;
  item.imageData = data;
  item.image_Name = image_Name;
  item.image_UID = image_UID;
  return item;
}

QVariant MyImageObject::imageRepresentation(int mode) const {
  if (imageRepresentationType(mode) == RepresentationType::Data) return QVariant(imageData);
  return QVariant::fromValue(image);
}

QVariant MyImageObject::valueForKey(const QString& key) const {
  if (key == QLatin1String("path")) return path;
  if (key == QLatin1String("File_Start_Sector")) return QVariant::fromValue<quint64>(File_Start_Sector);
  if (key == QLatin1String("File_End_Sector")) return QVariant::fromValue<quint64>(File_End_Sector);
  return {};
}

std::optional<std::uint64_t> MyImageObject::Medium_Start() const {
  if (Sector_Count > 0) return First_Sector;
  if (File_End_Sector > File_Start_Sector) return File_Start_Sector;
  return std::nullopt;
}

FoundItemList::Slot FoundItemList::Append(MyImageObject item) {
  std::lock_guard lock(mutex_);
  items_.push_back(std::move(item));
  return {items_.size() - 1, generation_};
}

void FoundItemList::Clear() {
  std::lock_guard lock(mutex_);
  items_.clear();
  ++generation_;
}

bool FoundItemList::Set_Image_Data(Slot slot, const QByteArray& data) {
  std::lock_guard lock(mutex_);
  if (slot.generation != generation_ || slot.row >= items_.size()) return false;
  items_[slot.row].imageData = data;
  items_[slot.row].thumbnail_pending = false;
  return true;
}

bool FoundItemList::Set_Image(Slot slot, const QIcon& image) {
  std::lock_guard lock(mutex_);
  if (slot.generation != generation_ || slot.row >= items_.size()) return false;
  items_[slot.row].image = image;
  return true;
}

std::size_t FoundItemList::size() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

std::optional<MyImageObject> FoundItemList::At(std::size_t row) const {
  std::lock_guard lock(mutex_);
  if (row >= items_.size()) return std::nullopt;
  return items_[row];
}

std::vector<MyImageObject> FoundItemList::Snapshot() const {
  std::lock_guard lock(mutex_);
  return items_;
}

std::uint64_t FoundItemList::Generation() const {
  std::lock_guard lock(mutex_);
  return generation_;
}

}  // namespace tamberlin::results
