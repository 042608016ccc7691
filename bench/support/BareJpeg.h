#pragma once

// The strongest bare JPEG decode a program could write: libjpeg-turbo from memory straight into the
// QImage it would draw (32-bit BGRX), with libjpeg's own error handling and nothing else.

#include <QByteArray>
#include <QImage>

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace bench {

struct BareJpegOptions {
    // 1, 2, 4 or 8: libjpeg-turbo scales the DCT by 1/scaleDenominator.
    unsigned scaleDenominator = 1;
    // The fast integer transform and plain upsampling (what a thumbnail can afford).
    bool fast = false;
};

inline QImage bareJpegDecode(const QByteArray& data, BareJpegOptions options = {})
{
    struct Errors {
        jpeg_error_mgr base;
        std::jmp_buf jump;
    };
    jpeg_decompress_struct info;
    Errors errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit
        = [](j_common_ptr common) { std::longjmp(reinterpret_cast<Errors*>(common->err)->jump, 1); };
    QImage image;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return QImage();
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.constData()), (unsigned long)data.size());
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGRX;
    info.scale_num = 1;
    info.scale_denom = options.scaleDenominator;
    if (options.fast) {
        info.dct_method = JDCT_IFAST;
        info.do_fancy_upsampling = FALSE;
    }
    jpeg_start_decompress(&info);
    image = QImage(int(info.output_width), int(info.output_height), QImage::Format_RGB32);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

} // namespace bench
