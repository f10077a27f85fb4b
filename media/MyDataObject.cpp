#include "media/MyDataObject.h"

namespace tamberlin::media {

QString Column_Identifier(int column) {
  return QStringLiteral("Collumn%1").arg(column + 1);
}

QString MyDataObject::Column_Value(QStringView identifier) const {
  if (identifier == u"Collumn1") return nsStrDiskIdentifier;
  if (identifier == u"Collumn2") return nsStrVolName;
  if (identifier == u"Collumn3") return nsStrFileSystem;
  if (identifier == u"Collumn4") return nsStrSize;
  if (identifier == u"Collumn5") return nsStrParentDisk;
  if (identifier == u"Collumn6") return nsStrSectors;
  return {};
}

}  // namespace tamberlin::media
