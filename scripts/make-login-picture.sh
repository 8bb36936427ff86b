#!/usr/bin/env bash
# Paints the picture behind the login dialog (317 x 289) and writes it as
# users/login.jpg with libjpeg, using the compiler and libjpeg-dev that
# scripts/setup.sh installs.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat >"$work/paint.c" <<'C'
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <jpeglib.h>

enum { W = 317, H = 289 };

static unsigned char clamp(double v) { return v < 0 ? 0 : v > 255 ? 255 : (unsigned char)v; }

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    static unsigned char rgb[W * H * 3];
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            /* A pale sky towards a deep blue, with rings spreading from the
               lower right like a signal on the line. */
            double t = (double)y / (H - 1);
            double r = 225 - 150 * t, g = 238 - 110 * t, b = 255 - 60 * t;
            double dx = x - W * 0.85, dy = y - H * 0.9;
            double d = sqrt(dx * dx + dy * dy);
            double ring = 0.5 + 0.5 * cos(d / 9.0);
            double fade = d < 240 ? 1 - d / 240 : 0;
            double k = ring * fade * 40;
            unsigned char* p = rgb + (y * W + x) * 3;
            p[0] = clamp(r + k);
            p[1] = clamp(g + k);
            p[2] = clamp(b + k * 0.5);
        }
    }
    FILE* out = fopen(argv[1], "wb");
    if (!out)
        return 1;
    struct jpeg_compress_struct info;
    struct jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, out);
    info.image_width = W;
    info.image_height = H;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 85, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < H) {
        JSAMPROW row = rgb + info.next_scanline * W * 3;
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return fclose(out) == 0 ? 0 : 1;
}
C

cc -O2 -o "$work/paint" "$work/paint.c" -ljpeg -lm
"$work/paint" users/login.jpg
echo "wrote users/login.jpg"
