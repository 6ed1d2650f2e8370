// Writes scanned lines as PNG or as a BMP that Windows programs read: rows
// are handed over top row first, one at a time, so nothing but one row is
// held in memory.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>

enum ImageFormat { IMAGE_PNG, IMAGE_BMP };

struct ImageWriter {
    FILE *file;
    ImageFormat format;
    uint32_t width, height;
    uint32_t bitsPerPixel;  // 1 (1 = white), 8 (gray) or 24 (RGB)
    uint32_t rowsWritten;
    uint32_t bmpStride;
    uint32_t crc;           // PNG: CRC of the IDAT chunk being written
    uint32_t chunkBytes;
    long chunkStart;
    void *zstream;          // PNG: the deflate stream
    unsigned char *out;     // PNG: deflate output buffer
    std::string error;
};

// The format from the file name's ending (".png" or ".bmp"); false if neither.
bool ImageFormatOf(const std::string &path, ImageFormat *format);

bool ImageOpen(ImageWriter *w, const std::string &path, ImageFormat format, uint32_t width, uint32_t height,
               uint32_t bitsPerPixel);
// One row of ceil(width * bitsPerPixel / 8) bytes: RGB for 24 bits, MSB first for 1 bit.
bool ImageWriteRow(ImageWriter *w, const uint8_t *row);
// Finishes the file; rows not written are left black.
bool ImageClose(ImageWriter *w);
