// The picture behind the login dialog, decoded with libjpeg.
#pragma once

#include <QImage>
#include <QString>

namespace quorvik {

// The JPEG file as an RGB image; a null image when the file is missing,
// unreadable, damaged or not a JPEG.
QImage DecodeJpeg(const QString& path);

// login.jpg beside the executable.
QString LoginPicturePath();

} // namespace quorvik
