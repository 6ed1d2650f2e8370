// scan.exe's images as other programs read them: the BMP through
// LoadImageA, the PNG through the system's imaging codecs, both against the
// lines a client reads from the library itself with the same parameters.
#include <windows.h>
#include <wincodec.h>

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devcmd_client.h"
#include "wine_test_support.h"

namespace {

struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel
};

// The same scan through the library, expanded to RGB.
Image ScanThroughLibrary(uint16_t mode, uint16_t res, uint16_t left, uint16_t top, uint16_t width, uint16_t height) {
    Image img;
    Devcmd lib;
    EXPECT_TRUE(LoadDevcmd(&lib));
    CommandBlock b = Block(SC_OPEN);
    Send(lib, &b);
    CommandBlock acquire = Block(SC_ACQUIRE);
    EXPECT_EQ(Send(lib, &acquire), SCS_OK);
    ScanParams p = {};
    p.flags = SPF_DEFAULT_TONE;
    p.left = left;
    p.top = top;
    p.width = width;
    p.height = height;
    p.xResolution = p.yResolution = res;
    p.colorMode = mode;
    ScanLayout layout = {};
    memcpy(&layout.flags, &p.flags, SCAN_SETTINGS_BYTES);
    b = Block(SC_GET_SCAN_LAYOUT, &layout);
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    b = Block(SC_SET_SCAN_PARAMS, &p);
    b.ownerId = acquire.ownerId;
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    b = Block(SC_START_SCAN);
    b.ownerId = acquire.ownerId;
    EXPECT_EQ(Send(lib, &b), SCS_OK);
    std::vector<uint8_t> raw(size_t(layout.bytesPerLine) * layout.lineCount);
    size_t at = 0;
    for (;;) {
        b = Block(SC_READ_LINES, raw.data() + at);
        b.bufferSize = uint32_t(raw.size() - at);
        b.ownerId = acquire.ownerId;
        int16_t s = Send(lib, &b);
        at += size_t(b.count) * layout.bytesPerLine;
        if (s == SCS_END_OF_DATA || b.count == 0 || at >= raw.size()) break;
        EXPECT_TRUE(s == SCS_OK || s == SCS_PARTIAL) << s;
    }
    for (uint16_t c : {SC_STOP_SCAN, SC_RELEASE}) {
        b = Block(c);
        b.ownerId = acquire.ownerId;
        Send(lib, &b);
    }
    b = Block(SC_CLOSE);
    Send(lib, &b);
    FreeDevcmd(&lib);
    img.width = layout.pixelsPerLine;
    img.height = layout.lineCount;
    img.rgb.resize(size_t(img.width) * img.height * 3);
    for (uint32_t y = 0; y < img.height; ++y)
        for (uint32_t x = 0; x < img.width; ++x) {
            const uint8_t *line = &raw[size_t(y) * layout.bytesPerLine];
            uint8_t *out = &img.rgb[(size_t(y) * img.width + x) * 3];
            if (mode == SCM_COLOR) {
                memcpy(out, line + 3 * x, 3);
            } else {
                uint8_t v = mode == SCM_GRAY ? line[x] : ((line[x / 8] >> (7 - x % 8)) & 1) ? 255 : 0;
                out[0] = out[1] = out[2] = v;
            }
        }
    return img;
}

Image ReadBmp(const std::string &path) {
    Image img;
    HBITMAP bmp = static_cast<HBITMAP>(LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    EXPECT_NE(bmp, nullptr) << "Windows cannot read " << path;
    if (!bmp) return img;
    BITMAP info;
    GetObjectA(bmp, sizeof(info), &info);
    img.width = uint32_t(info.bmWidth);
    img.height = uint32_t(info.bmHeight);
    BITMAPINFOHEADER bi = {};
    bi.biSize = sizeof(bi);
    bi.biWidth = info.bmWidth;
    bi.biHeight = -info.bmHeight;  // top row first
    bi.biPlanes = 1;
    bi.biBitCount = 32;
    std::vector<uint8_t> bgra(size_t(img.width) * img.height * 4);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, bmp, 0, img.height, bgra.data(), reinterpret_cast<BITMAPINFO *>(&bi), DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(bmp);
    img.rgb.resize(size_t(img.width) * img.height * 3);
    for (size_t i = 0; i < size_t(img.width) * img.height; ++i) {
        img.rgb[3 * i] = bgra[4 * i + 2];
        img.rgb[3 * i + 1] = bgra[4 * i + 1];
        img.rgb[3 * i + 2] = bgra[4 * i];
    }
    return img;
}

Image ReadPng(const std::string &path) {
    Image img;
    IWICImagingFactory *factory = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  reinterpret_cast<void **>(&factory));
    EXPECT_TRUE(SUCCEEDED(hr));
    if (FAILED(hr)) return img;
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    IWICBitmapDecoder *decoder = nullptr;
    IWICBitmapFrameDecode *frame = nullptr;
    IWICFormatConverter *converter = nullptr;
    hr = factory->CreateDecoderFromFilename(wide, nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand, &decoder);
    EXPECT_TRUE(SUCCEEDED(hr)) << "the imaging codecs cannot read " << path;
    if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr)) hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0,
                                   WICBitmapPaletteTypeCustom);
    UINT w = 0, h = 0;
    if (SUCCEEDED(hr)) hr = converter->GetSize(&w, &h);
    if (SUCCEEDED(hr)) {
        img.width = w;
        img.height = h;
        std::vector<uint8_t> bgra(size_t(w) * h * 4);
        hr = converter->CopyPixels(nullptr, w * 4, UINT(bgra.size()), bgra.data());
        img.rgb.resize(size_t(w) * h * 3);
        for (size_t i = 0; i < size_t(w) * h; ++i) {
            img.rgb[3 * i] = bgra[4 * i + 2];
            img.rgb[3 * i + 1] = bgra[4 * i + 1];
            img.rgb[3 * i + 2] = bgra[4 * i];
        }
    }
    EXPECT_TRUE(SUCCEEDED(hr));
    if (converter) converter->Release();
    if (frame) frame->Release();
    if (decoder) decoder->Release();
    factory->Release();
    return img;
}

void ExpectSame(const Image &a, const Image &b, const char *what) {
    ASSERT_EQ(a.width, b.width) << what;
    ASSERT_EQ(a.height, b.height) << what;
    size_t differ = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) differ += a.rgb[i] != b.rgb[i];
    EXPECT_EQ(differ, 0u) << what;
}

class ScanOutput : public ::testing::Test {
protected:
    void SetUp() override { CoInitialize(nullptr); }
    void TearDown() override { CoUninitialize(); }
    VirtualScanner scanner;
};

TEST_F(ScanOutput, ImagesHoldWhatTheLibraryDelivers) {
    struct Case {
        const char *mode;
        uint16_t scm, res;
    } cases[] = {{"lineart", SCM_LINEART, 150}, {"gray", SCM_GRAY, 150}, {"color", SCM_COLOR, 150}};
    // The colour bars and the gray ramp: every channel and level shows.
    const uint16_t left = 300, top = 300, width = 4500, height = 1500;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Image expected = ScanThroughLibrary(c.scm, c.res, left, top, width, height);
        for (const char *ext : {"bmp", "png"}) {
            for (const char *order : {"", " --bottom-up"}) {
                std::string out = WindowsDir() + "\\Temp\\scan-output-test." + ext;
                DeleteFileA(out.c_str());
                DWORD code = 99;
                std::string text;
                char args[256];
                snprintf(args, sizeof(args), " --quiet --mode %s --res %u --area %u,%u,%u,%u%s \"%s\"", c.mode, c.res,
                         left, top, width, height, order, out.c_str());
                ASSERT_TRUE(RunProcess("\"" + BinDir() + "\\scan.exe\"" + args, 120000, &code, &text));
                ASSERT_EQ(code, 0u) << text;
                Image got = ext[0] == 'b' ? ReadBmp(out) : ReadPng(out);
                ExpectSame(got, expected, (std::string(ext) + order).c_str());
            }
        }
    }
}

}  // namespace
