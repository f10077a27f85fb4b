#include "results/qt/file_type_icons.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tamberlin::results {

void Ensure_Icon_Theme() {
  static bool done = false;
  if (done) return;
  done = true;
  QStringList paths = QIcon::themeSearchPaths();
  for (const QString& dir : {QStringLiteral("/usr/share/icons"), QStringLiteral("/usr/local/share/icons")}) {
    if (!paths.contains(dir) && QDir(dir).exists()) paths << dir;
  }
  QIcon::setThemeSearchPaths(paths);
  const QString theme = QIcon::themeName();
  if (theme.isEmpty() || theme == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("Adwaita"));
  if (QIcon::fallbackThemeName().isEmpty()) QIcon::setFallbackThemeName(QStringLiteral("hicolor"));
}

namespace {

QPixmap Draw_Document(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal m = side * 0.14;
  const qreal fold = side * 0.25;
  const QRectF page(m, side * 0.06, side - 2 * m, side * 0.88);
  QPainterPath outline;
  outline.moveTo(page.topLeft());
  outline.lineTo(page.right() - fold, page.top());
  outline.lineTo(page.right(), page.top() + fold);
  outline.lineTo(page.bottomRight());
  outline.lineTo(page.bottomLeft());
  outline.closeSubpath();
  painter.setPen(QPen(QColor(110, 116, 128), qMax(1.0, side / 48.0)));
  painter.setBrush(QColor(250, 250, 252));
  painter.drawPath(outline);
  QPainterPath corner;
  corner.moveTo(page.right() - fold, page.top());
  corner.lineTo(page.right() - fold, page.top() + fold);
  corner.lineTo(page.right(), page.top() + fold);
  painter.setBrush(QColor(214, 218, 226));
  painter.drawPath(corner);
  return pixmap;
}

}  // namespace

QIcon Fallback_File_Icon() {
  static const QIcon icon = [] {
    QIcon made;
    for (int side : {16, 32, 64, 128, 256}) made.addPixmap(Draw_Document(side));
    return made;
  }();
  return icon;
}

QIcon File_Type_Icon(const QString& file_name) {
  Ensure_Icon_Theme();
  static QHash<QString, QIcon> cache;
  const QString ext = QFileInfo(file_name).suffix().toLower();
  if (auto it = cache.constFind(ext); it != cache.constEnd()) return *it;
  static const QMimeDatabase db;
  const QMimeType type = db.mimeTypeForFile(file_name, QMimeDatabase::MatchExtension);
  QIcon icon = QIcon::fromTheme(type.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  if (icon.isNull()) icon = QIcon::fromTheme(QStringLiteral("application-x-generic"));
  if (icon.isNull()) icon = Fallback_File_Icon();
  cache.insert(ext, icon);
  return icon;
}

}  // namespace tamberlin::results
