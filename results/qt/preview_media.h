// What the preview area shows for a preview file: a movie when the file is a
// real one, else the picture or the first page of a PDF fitted to the
// preview pane, else the file-type icon at 200 x 200.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

class QMediaPlayer;

namespace tamberlin::results {

inline constexpr int kPreviewSide = 200;

// The file drawn to fit `box` (device pixels) keeping its aspect: pictures
// through Qt's image readers (orientation applied), decoded straight at the
// fitted size and never enlarged; PDFs by their first page, rendered at the
// resolution that fills the box. Null for anything else or a file that does
// not decode.
QImage Preview_Image(const QString& path, QSize box);

// True when `path` is a movie worth playing: its MIME type (by content and
// name) is video/* and `player` loads it with a video stream and a duration.
// Waits for the player (handling events) up to `timeout_ms`. The source stays
// set on the player when the answer is yes and is cleared otherwise; then
// `why` (when given) gets the reason in words, the player's own error text
// when it has one.
bool Load_Movie(QMediaPlayer& player, const QString& path, QString* why = nullptr, int timeout_ms = 5000);

}  // namespace tamberlin::results
