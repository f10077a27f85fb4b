// The preview's movie controls: a play/pause button, a position slider and
// the time, kept in step with a QMediaPlayer; and a note that says in words
// why a movie stopped or would not play.
#pragma once

#include <QObject>
#include <QString>

class QAbstractButton;
class QLabel;
class QMediaPlayer;
class QSlider;
class QWidget;

namespace tamberlin::ui {

class MovieControls final : public QObject {
  Q_OBJECT

 public:
  struct Widgets {
    QWidget* row = nullptr;  // holds the three below; shown with a movie
    QAbstractButton* play = nullptr;
    QSlider* position = nullptr;
    QLabel* time = nullptr;
    QLabel* note = nullptr;  // under the preview
  };
  MovieControls(QMediaPlayer* player, const Widgets& widgets, QObject* parent = nullptr);

  // A movie is loaded and shown (true) or none is (false).
  void Show(bool movie);
  // Puts `text` into the note under the preview; empty clears and hides it.
  static void Set_Note(QLabel* note, const QString& text);
  // The note for a movie that cannot be played, with the reason.
  static QString Cannot_Play(const QString& why);

 private:
  void Update_Button();
  void Update_Position(qint64 ms);

  QMediaPlayer* player_;
  Widgets w_;
};

}  // namespace tamberlin::ui
