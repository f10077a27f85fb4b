// What the preview area shows for a preview file: a movie when the file is a
// real one, else a thumbnail of at most 200 x 200 (pictures and PDFs), else
// the file-type icon.
#pragma once

#include <QImage>
#include <QString>

class QMediaPlayer;

namespace tamberlin::results {

inline constexpr int kPreviewSide = 200;

// A thumbnail of the file of at most side x side pixels: pictures through
// Qt's image readers (orientation applied), PDFs by their first page. Null
// for anything else or a file that does not decode.
QImage Preview_Thumbnail(const QString& path, int side = kPreviewSide);

// True when `path` is a movie worth playing: its MIME type (by content and
// name) is video/* and `player` loads it with a video stream and a duration.
// Waits for the player (handling events) up to `timeout_ms`. The source stays
// set on the player when the answer is yes and is cleared otherwise.
bool Load_Movie(QMediaPlayer& player, const QString& path, int timeout_ms = 5000);

}  // namespace tamberlin::results
