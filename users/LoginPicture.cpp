#include "users/LoginPicture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace quorvik {
namespace {

// A picture larger than this is not ours; refusing it bounds the memory taken.
constexpr JDIMENSION MaxSide = 8192;

// libjpeg reports a fatal error by calling error_exit, which must not return:
// it jumps back to the decoding step that armed the buffer.
struct JpegError {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void JumpBack(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Warnings are counted (num_warnings) but not printed.
void Quiet(j_common_ptr) {}

// The steps that may jump hold only plain data in their frames, so no
// destructor is skipped by the jump.
bool StartDecoding(jpeg_decompress_struct* info, JpegError* error, const unsigned char* data,
                   unsigned long size) {
    if (setjmp(error->jump))
        return false;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    if (info->image_width > MaxSide || info->image_height > MaxSide)
        return false;
    info->out_color_space = JCS_RGB;
    jpeg_start_decompress(info);
    return info->output_components == 3;
}

bool ReadRows(jpeg_decompress_struct* info, JpegError* error, unsigned char* bits,
              long bytesPerLine) {
    if (setjmp(error->jump))
        return false;
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = bits + bytesPerLine * static_cast<long>(info->output_scanline);
        jpeg_read_scanlines(info, &row, 1);
    }
    jpeg_finish_decompress(info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    if (data.isEmpty())
        return {};

    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    JpegError error;
    std::memset(&error, 0, sizeof error);
    info.err = jpeg_std_error(&error.base);
    error.base.error_exit = JumpBack;
    error.base.output_message = Quiet;

    QImage image;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    if (StartDecoding(&info, &error, bytes, static_cast<unsigned long>(data.size()))) {
        image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                       QImage::Format_RGB888);
        // A truncated or corrupt stream decodes with warnings and grey rows;
        // such a picture counts as damaged.
        if (image.isNull() || !ReadRows(&info, &error, image.bits(), image.bytesPerLine()) ||
            error.base.num_warnings != 0)
            image = QImage();
    }
    jpeg_destroy_decompress(&info);
    return image;
}

QString LoginPicturePath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("login.jpg"));
}

} // namespace quorvik
