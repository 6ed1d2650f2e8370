#include "image_writer.h"

#include <stdlib.h>
#include <string.h>

#include <vector>
#include <zlib.h>

namespace {

const uint32_t OUT_BYTES = 1 << 16;

uint32_t RowBytes(const ImageWriter *w) { return (w->width * w->bitsPerPixel + 7) / 8; }

void Put32be(unsigned char *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

bool Write(ImageWriter *w, const void *data, size_t n) {
    if (fwrite(data, 1, n, w->file) != n) {
        w->error = "cannot write the image file (disk full?)";
        return false;
    }
    return true;
}

bool PngChunk(ImageWriter *w, const char type[4], const unsigned char *data, uint32_t n) {
    unsigned char head[8];
    Put32be(head, n);
    memcpy(head + 4, type, 4);
    uint32_t crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    if (n) crc = crc32(crc, data, n);
    unsigned char tail[4];
    Put32be(tail, crc);
    return Write(w, head, 8) && (n == 0 || Write(w, data, n)) && Write(w, tail, 4);
}

// Compressed data goes into one IDAT chunk per deflate output buffer.
bool PngFlush(ImageWriter *w, int mode) {
    z_stream *z = static_cast<z_stream *>(w->zstream);
    for (;;) {
        int rc = deflate(z, mode);
        if (rc == Z_STREAM_ERROR) {
            w->error = "compression failed";
            return false;
        }
        uint32_t have = OUT_BYTES - z->avail_out;
        if (have == OUT_BYTES || (mode == Z_FINISH && have)) {
            if (!PngChunk(w, "IDAT", w->out, have)) return false;
            z->next_out = w->out;
            z->avail_out = OUT_BYTES;
        }
        if (mode == Z_NO_FLUSH && z->avail_in == 0) return true;
        if (mode == Z_FINISH && rc == Z_STREAM_END) return true;
    }
}

}  // namespace

bool ImageFormatOf(const std::string &path, ImageFormat *format) {
    if (path.size() < 4) return false;
    std::string end = path.substr(path.size() - 4);
    for (char &c : end) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (end == ".png") *format = IMAGE_PNG;
    else if (end == ".bmp") *format = IMAGE_BMP;
    else return false;
    return true;
}

bool ImageOpen(ImageWriter *w, const std::string &path, ImageFormat format, uint32_t width, uint32_t height,
               uint32_t bitsPerPixel) {
    *w = ImageWriter{};
    w->format = format;
    w->width = width;
    w->height = height;
    w->bitsPerPixel = bitsPerPixel;
    if (width == 0 || height == 0 || (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24)) {
        w->error = "nothing to write: the image is empty";
        return false;
    }
    w->file = fopen(path.c_str(), "wb");
    if (!w->file) {
        w->error = "cannot create " + path;
        return false;
    }
    if (format == IMAGE_BMP) {
        // Rows are placed bottom-up, so the whole file is laid out first.
        const uint32_t colours = bitsPerPixel == 24 ? 0 : (bitsPerPixel == 1 ? 2 : 256);
        w->bmpStride = ((width * bitsPerPixel + 31) / 32) * 4;
        const uint32_t offset = 14 + 40 + colours * 4;
        const uint64_t size = uint64_t(offset) + uint64_t(w->bmpStride) * height;
        if (size > 0x7FFFFFFF) {
            w->error = "the image is too large for a BMP file";
            return false;
        }
        unsigned char head[54] = {'B', 'M'};
        auto put32 = [&](int at, uint32_t v) { memcpy(head + at, &v, 4); };
        auto put16 = [&](int at, uint16_t v) { memcpy(head + at, &v, 2); };
        put32(2, uint32_t(size));
        put32(10, offset);
        put32(14, 40);
        put32(18, width);
        put32(22, height);
        put16(26, 1);
        put16(28, uint16_t(bitsPerPixel));
        put32(34, w->bmpStride * height);
        put32(38, 11811);  // 300 dpi in pixels per metre; only a hint
        put32(42, 11811);
        put32(46, colours);
        if (!Write(w, head, sizeof(head))) return false;
        for (uint32_t i = 0; i < colours; ++i) {
            uint8_t v = uint8_t(colours == 2 ? i * 255 : i);
            unsigned char entry[4] = {v, v, v, 0};
            if (!Write(w, entry, 4)) return false;
        }
        std::vector<unsigned char> zero(w->bmpStride, 0);
        for (uint32_t r = 0; r < height; ++r)
            if (!Write(w, zero.data(), zero.size())) return false;
        return true;
    }
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char ihdr[13];
    Put32be(ihdr, width);
    Put32be(ihdr + 4, height);
    ihdr[8] = uint8_t(bitsPerPixel == 24 ? 8 : bitsPerPixel);
    ihdr[9] = bitsPerPixel == 24 ? 2 : 0;  // truecolour or grayscale
    ihdr[10] = ihdr[11] = ihdr[12] = 0;
    if (!Write(w, signature, 8) || !PngChunk(w, "IHDR", ihdr, 13)) return false;
    z_stream *z = static_cast<z_stream *>(calloc(1, sizeof(z_stream)));
    w->out = static_cast<unsigned char *>(malloc(OUT_BYTES));
    if (!z || !w->out || deflateInit(z, 6) != Z_OK) {
        free(z);
        w->error = "out of memory";
        return false;
    }
    z->next_out = w->out;
    z->avail_out = OUT_BYTES;
    w->zstream = z;
    return true;
}

bool ImageWriteRow(ImageWriter *w, const uint8_t *row) {
    if (w->rowsWritten >= w->height) {
        w->error = "more rows than the image has";
        return false;
    }
    const uint32_t bytes = RowBytes(w);
    if (w->format == IMAGE_BMP) {
        std::vector<unsigned char> line(w->bmpStride, 0);
        if (w->bitsPerPixel == 24) {
            for (uint32_t x = 0; x < w->width; ++x) {  // BMP keeps blue first
                line[3 * x] = row[3 * x + 2];
                line[3 * x + 1] = row[3 * x + 1];
                line[3 * x + 2] = row[3 * x];
            }
        } else {
            memcpy(line.data(), row, bytes);
        }
        const uint32_t colours = w->bitsPerPixel == 24 ? 0 : (w->bitsPerPixel == 1 ? 2 : 256);
        const long offset = long(14 + 40 + colours * 4) + long(w->height - 1 - w->rowsWritten) * long(w->bmpStride);
        if (fseek(w->file, offset, SEEK_SET) != 0 || !Write(w, line.data(), line.size())) return false;
        ++w->rowsWritten;
        return true;
    }
    z_stream *z = static_cast<z_stream *>(w->zstream);
    unsigned char filter = 0;
    z->next_in = &filter;
    z->avail_in = 1;
    if (!PngFlush(w, Z_NO_FLUSH)) return false;
    z->next_in = const_cast<Bytef *>(row);
    z->avail_in = bytes;
    if (!PngFlush(w, Z_NO_FLUSH)) return false;
    ++w->rowsWritten;
    return true;
}

bool ImageClose(ImageWriter *w) {
    bool ok = w->file != nullptr;
    if (ok && w->format == IMAGE_PNG && w->zstream) {
        std::vector<uint8_t> black((w->width * w->bitsPerPixel + 7) / 8, 0);
        while (ok && w->rowsWritten < w->height) ok = ImageWriteRow(w, black.data());
        ok = ok && PngFlush(w, Z_FINISH) && PngChunk(w, "IEND", nullptr, 0);
    }
    if (w->zstream) {
        deflateEnd(static_cast<z_stream *>(w->zstream));
        free(w->zstream);
        w->zstream = nullptr;
    }
    free(w->out);
    w->out = nullptr;
    if (w->file && fclose(w->file) != 0 && ok) {
        w->error = "cannot finish the image file";
        ok = false;
    }
    w->file = nullptr;
    return ok;
}
