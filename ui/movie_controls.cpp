#include "ui/movie_controls.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QStyle>
#include <algorithm>
#include <limits>

#include "ui/progress_rate.h"

namespace tamberlin::ui {

namespace {

int Clamp_Ms(qint64 ms) {
  return static_cast<int>(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max()));
}

}  // namespace

MovieControls::MovieControls(QMediaPlayer* player, const Widgets& widgets, QObject* parent)
    : QObject(parent), player_(player), w_(widgets) {
  w_.play->setToolTip(tr("Play or pause the movie"));
  w_.position->setToolTip(tr("Drag to move through the movie"));
  w_.position->setRange(0, 0);
  Update_Button();
  connect(w_.play, &QAbstractButton::clicked, this, [this] {
    if (player_->playbackState() == QMediaPlayer::PlayingState)
      player_->pause();
    else
      player_->play();
  });
  connect(player_, &QMediaPlayer::playbackStateChanged, this, &MovieControls::Update_Button);
  connect(player_, &QMediaPlayer::durationChanged, this, [this](qint64 ms) {
    w_.position->setRange(0, Clamp_Ms(ms));
    Update_Position(player_->position());
  });
  connect(player_, &QMediaPlayer::positionChanged, this, &MovieControls::Update_Position);
  // Dragging seeks as the knob moves; a click beside the knob pages.
  connect(w_.position, &QSlider::sliderMoved, player_, [this](int ms) { player_->setPosition(ms); });
  connect(w_.position, &QSlider::actionTriggered, this, [this](int action) {
    if (action != QAbstractSlider::SliderMove) player_->setPosition(w_.position->sliderPosition());
  });
  connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error, const QString& text) {
    if (error != QMediaPlayer::NoError) Set_Note(w_.note, Cannot_Play(text.isEmpty() ? tr("the player failed.") : text));
  });
  Show(false);
}

void MovieControls::Show(bool movie) {
  w_.row->setVisible(movie);
  if (!movie) {
    w_.position->setRange(0, 0);
    w_.time->clear();
  }
}

void MovieControls::Set_Note(QLabel* note, const QString& text) {
  note->setText(text);
  note->setVisible(!text.isEmpty());
}

QString MovieControls::Cannot_Play(const QString& why) {
  return tr("This movie cannot be played: %1").arg(why);
}

void MovieControls::Update_Button() {
  const bool playing = player_->playbackState() == QMediaPlayer::PlayingState;
  w_.play->setIcon(w_.play->style()->standardIcon(playing ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
  w_.play->setText(playing ? tr("Pause") : tr("Play"));
}

void MovieControls::Update_Position(qint64 ms) {
  if (!w_.position->isSliderDown()) w_.position->setValue(Clamp_Ms(ms));
  w_.time->setText(QStringLiteral("%1 / %2").arg(Format_Duration(static_cast<double>(ms) / 1000.0),
                                                 Format_Duration(static_cast<double>(player_->duration()) / 1000.0)));
}

}  // namespace tamberlin::ui
