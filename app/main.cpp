// tamberlin [IMAGE...]: the main window; disk images given as arguments are
// listed on the media screen.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QTimer>

#include "ui/MyTableController.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Korvel"));
  QApplication::setApplicationName(QStringLiteral("tamberlin"));
  QApplication::setApplicationDisplayName(QStringLiteral("Tamberlin"));
  QApplication::setApplicationVersion(QStringLiteral(TAMBERLIN_VERSION));

  // File-type icons come from the icon theme; without a desktop session Qt
  // has none set.
  QIcon::setThemeSearchPaths(QIcon::themeSearchPaths() << QStringLiteral("/usr/share/icons"));
  if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
    QIcon::setThemeName(QStringLiteral("Adwaita"));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Finds lost files on USB sticks, memory cards and disk images."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("image"),
                               QStringLiteral("Disk image files to list on the media screen."),
                               QStringLiteral("[IMAGE...]"));
  parser.process(app);

  tamberlin::ui::MyTableController window;
  window.show();
  // Added once the window is up, so a bad path is reported over it.
  const QStringList images = parser.positionalArguments();
  QTimer::singleShot(0, &window, [&window, images] {
    for (const QString& image : images) window.Add_Image(image);
  });
  return app.exec();
}
