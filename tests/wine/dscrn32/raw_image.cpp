#include "raw_image.h"

#include <random>

#include "line_routines.h"

RawImage RandomImage(uint32_t width, uint32_t lines, uint32_t bpp, uint32_t padding, uint32_t seed)
{
    RawImage img;
    img.width = width;
    img.lines = lines;
    img.bpp = bpp;
    img.lineBytes = width * bpp + padding;
    img.bytes.resize(static_cast<size_t>(img.lineBytes) * lines);
    std::mt19937 rng(seed);
    for (auto& b : img.bytes)
        b = static_cast<uint8_t>(rng());
    return img;
}

namespace {

// Line y with `border` replicated pixels either side; rows past the image
// are never used by the model.
std::vector<uint8_t> Bordered(const RawImage& img, uint32_t y, uint32_t border)
{
    std::vector<uint8_t> v((img.width + 2 * border) * img.bpp);
    for (uint32_t x = 0; x < img.width + 2 * border; x++) {
        uint32_t src = x < border ? 0 : x - border;
        if (src >= img.width)
            src = img.width - 1;
        for (uint32_t ch = 0; ch < img.bpp; ch++)
            v[x * img.bpp + ch] = img.line(y)[src * img.bpp + ch];
    }
    return v;
}

}  // namespace

std::vector<uint32_t> DescreenSourceLines(uint32_t srcLines, uint32_t resolution)
{
    std::vector<uint32_t> out;
    const uint32_t want = static_cast<uint32_t>(static_cast<uint64_t>(srcLines) * resolution / 300);
    uint32_t acc = 299;
    for (uint32_t c = 0; c < srcLines && out.size() < want; c++) {
        acc += resolution;
        if (acc >= 300) {
            out.push_back(c);
            acc -= 300;
        }
    }
    return out;
}

std::vector<std::vector<uint8_t>> ModelOutput(const RawImage& img, const int8_t* kernel,
                                              uint32_t resolution)
{
    std::vector<std::vector<uint8_t>> out;
    const uint32_t n = img.lines;
    if (resolution == 0) {
        for (uint32_t c = 0; c < n; c++) {
            std::vector<uint8_t> line(img.width * img.bpp);
            if (c == 0 || c + 1 >= n) {
                line.assign(img.line(c), img.line(c) + img.width * img.bpp);
            } else {
                std::vector<uint8_t> r[3] = {Bordered(img, c - 1, 1), Bordered(img, c, 1),
                                             Bordered(img, c + 1, 1)};
                const uint8_t* rows[3] = {r[0].data() + img.bpp, r[1].data() + img.bpp,
                                          r[2].data() + img.bpp};
                RefConvolve3x3(rows, line.data(), img.width, img.bpp, kernel, KernelDivisor(kernel));
            }
            out.push_back(line);
        }
        return out;
    }
    const uint32_t dstWidth = static_cast<uint32_t>(static_cast<uint64_t>(img.width) * resolution / 300);
    for (uint32_t c : DescreenSourceLines(n, resolution)) {
        std::vector<uint8_t> line(dstWidth * img.bpp);
        if (c < 2 || c + 2 >= n) {
            RefCopyDecimated(img.line(c), line.data(), img.width, dstWidth, resolution, img.bpp);
        } else {
            std::vector<uint8_t> r[5];
            const uint8_t* rows[5];
            for (int k = 0; k < 5; k++) {
                r[k] = Bordered(img, c - 2 + k, 2);
                rows[k] = r[k].data() + 2 * img.bpp;
            }
            RefDescreen13(rows, line.data(), img.width, dstWidth, resolution, img.bpp);
        }
        out.push_back(line);
    }
    return out;
}
