#include "rescale.h"

#include <string.h>

void StepVertical(VerticalStep *step, uint32_t ry, uint32_t qy) {
    if (step->repeatCount != 0 || qy == 0) return;
    step->accumulator += ry;
    step->repeatCount += step->accumulator / qy;
    step->accumulator %= qy;
}

void AverageLines(uint8_t *current, const uint8_t *next, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) current[i] = (uint8_t)(((unsigned)current[i] + next[i]) >> 1);
}

void ConvertToBits(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n, uint32_t rx, uint32_t qx,
                   const uint8_t pattern[64], uint32_t *halftonePosition) {
    const uint32_t p0 = *halftonePosition & 63;
    *halftonePosition = (p0 + 8) & 63;
    if (m == 0) return;
    if (n == 0 || rx == 0) {
        memset(out, 0, (m + 7) / 8);
        return;
    }
    const uint8_t *row = pattern + (p0 & ~7u);
    const uint32_t last = n - 1;
    uint32_t a = rx, s = 0;
    uint32_t byte = 0;
    for (uint32_t i = 0; i < m; ++i) {
        while (a < qx) {  // more than once only when Rx is below Qx
            a += rx;
            ++s;
        }
        const uint8_t g = current[s < last ? s : last];
        byte = (byte << 1) | (g >= row[(p0 + i) & 7] ? 1u : 0u);
        if ((i & 7) == 7) {
            *out++ = (uint8_t)byte;
            byte = 0;
        }
        a -= qx;
    }
    if (m & 7) *out = (uint8_t)(byte << (8 - (m & 7)));
}

namespace {

// Exact floor(x / m) for every x up to 255 x m, by one multiplication:
// with 2^shift >= 255 m^2 and magic = ceil(2^shift / m) the error of the
// product stays below 1 / m.
struct Divider {
    uint32_t magic;
    uint32_t shift;
};

bool MakeDivider(uint32_t m, Divider *d) {
    if (m == 0 || m >= (1u << 23)) return false;
    const uint64_t bound = 255ull * m * m;
    uint32_t shift = 0;
    while ((1ull << shift) < bound) ++shift;
    d->shift = shift;
    d->magic = (uint32_t)(((1ull << shift) + m - 1) / m);
    return true;
}

inline uint32_t Divide(uint32_t x, const Divider &d) { return (uint32_t)(((uint64_t)x * d.magic) >> d.shift); }

template <uint32_t CH>
void ResamplePlain(uint8_t *out, const uint8_t *cur, uint32_t m, uint32_t n) {
    if (m == 0 || n == 0) return;
    for (uint32_t c = 0; c < CH; ++c) {
        out[c] = cur[c];
        out[(size_t)(m - 1) * CH + c] = cur[(size_t)(n - 1) * CH + c];
    }
    uint32_t phase = n, s = 0;
    while (phase >= m) {
        ++s;
        phase -= m;
    }
    for (uint32_t k = 1; k + 1 < m; ++k) {
        const uint32_t s0 = s < n - 1 ? s : n - 1;
        const uint32_t s1 = s + 1 < n - 1 ? s + 1 : n - 1;
        for (uint32_t c = 0; c < CH; ++c)
            out[(size_t)k * CH + c] = (uint8_t)(((m - phase) * cur[(size_t)s0 * CH + c]) / m +
                                                (phase * cur[(size_t)s1 * CH + c]) / m);
        phase += n;
        while (phase >= m) {
            ++s;
            phase -= m;
        }
    }
}

template <uint32_t CH>
void ResampleFast(uint8_t *out, const uint8_t *cur, uint32_t m, uint32_t n) {
    Divider d;
    if (n == 0 || !MakeDivider(m, &d)) return ResamplePlain<CH>(out, cur, m, n);
    for (uint32_t c = 0; c < CH; ++c) {
        out[c] = cur[c];
        out[(size_t)(m - 1) * CH + c] = cur[(size_t)(n - 1) * CH + c];
    }
    if (m < 3) return;
    const uint32_t whole = n / m, part = n % m;
    uint32_t phase = part, s = whole;
    // Columns whose right neighbour is still inside the line; the few at
    // the right edge of a strong stretch take the last pixel twice.
    const uint8_t *lastPixel = cur + (size_t)(n - 1) * CH;
    uint8_t *o = out + CH;
    for (uint32_t k = 1; k + 1 < m; ++k, o += CH) {
        const uint32_t w0 = m - phase, w1 = phase;
        const uint8_t *p0 = s < n - 1 ? cur + (size_t)s * CH : lastPixel;
        const uint8_t *p1 = s + 1 < n - 1 ? p0 + CH : lastPixel;
        for (uint32_t c = 0; c < CH; ++c) o[c] = (uint8_t)(Divide(w0 * p0[c], d) + Divide(w1 * p1[c], d));
        phase += part;
        s += whole;
        if (phase >= m) {
            phase -= m;
            ++s;
        }
    }
}

}  // namespace

void ResampleGray(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResampleFast<1>(out, current, m, n);
}

void ResampleRgb(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResampleFast<3>(out, current, m, n);
}

void ResampleGrayPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResamplePlain<1>(out, current, m, n);
}

void ResampleRgbPlain(uint8_t *out, const uint8_t *current, uint32_t m, uint32_t n) {
    ResamplePlain<3>(out, current, m, n);
}

uint64_t ConvertedLineBytes(uint32_t converter, uint32_t m) {
    switch (converter) {
    case LINE_CONVERTER_BITS: return ((uint64_t)m + 7) / 8;
    case LINE_CONVERTER_GRAY: return m;
    case LINE_CONVERTER_RGB: return 3ull * m;
    }
    return 0;
}

uint64_t NativeLineBytes(uint32_t converter, uint32_t n) {
    return converter == LINE_CONVERTER_RGB ? 3ull * n : (uint64_t)n;
}
