// The scanning program's post-filter module: dscrn32.dll loaded by name
// and run over a raw scan file into a raw output file or a buffer, and
// every refusal reported with its status and a sentence.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "line_routines.h"
#include "postfilter.h"
#include "raw_image.h"

namespace {

std::string TempPath(const char* tag)
{
    static int counter = 0;
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    snprintf(name, sizeof name, "%spf_%lu_%d_%s", dir, GetCurrentProcessId(), counter++, tag);
    return name;
}

struct TempFile {
    std::string path;
    explicit TempFile(const char* tag) : path(TempPath(tag)) {}
    ~TempFile() { DeleteFileA(path.c_str()); }
};

void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    if (size)
        WriteFile(f, data, static_cast<DWORD>(size), &done, nullptr);
    CloseHandle(f);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::vector<uint8_t> v;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return v;
    v.resize(GetFileSize(f, nullptr));
    DWORD done = 0;
    if (!v.empty())
        ReadFile(f, v.data(), static_cast<DWORD>(v.size()), &done, nullptr);
    CloseHandle(f);
    return v;
}

PostFilterImage ImageOf(const RawImage& img)
{
    return PostFilterImage{img.width, img.lineBytes, img.lines, img.bpp == 3};
}

PostFilterSettings Kernel(uint16_t mode)
{
    PostFilterSettings s;
    memset(&s, 0, sizeof s);
    s.mode = mode;
    return s;
}

PostFilterSettings Descreen(uint16_t res, uint32_t flags = 0)
{
    PostFilterSettings s = Kernel(DESCREEN_MODE);
    s.resolution = res;
    s.flags = flags;
    return s;
}

// The pixels of each line of a sink of `lineBytes`-byte lines.
std::vector<std::vector<uint8_t>> Lines(const std::vector<uint8_t>& bytes, uint32_t lineBytes, uint32_t pixelBytes)
{
    std::vector<std::vector<uint8_t>> out;
    for (size_t at = 0; lineBytes && at + lineBytes <= bytes.size(); at += lineBytes)
        out.emplace_back(bytes.begin() + at, bytes.begin() + at + pixelBytes);
    return out;
}

TEST(ScanPostFilter, KernelModesIntoARawFile)
{
    for (uint32_t bpp : {1u, 3u})
        for (uint16_t mode = 0; mode < 6; mode++) {
            const RawImage img = RandomImage(45, 19, bpp, 3, 100 + mode);
            TempFile raw("in.raw"), outFile("out.raw");
            WriteBytes(raw.path, img.bytes.data(), img.bytes.size());
            HANDLE out = CreateFileA(outFile.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            PostFilterSink sink = {out, nullptr, 0};
            PostFilterSettings s = Kernel(mode);
            s.bufferLines = 4;
            PostFilterOutput result;
            char message[200] = "";
            const int status = PostFilterFile(nullptr, raw.path.c_str(), ImageOf(img), s, &sink, &result, message,
                                              sizeof message);
            CloseHandle(out);
            ASSERT_EQ(status, PF_OK) << PostFilterStatusName(status) << ": " << message;
            EXPECT_EQ(result.lines, img.lines);
            EXPECT_EQ(result.written, img.lines);
            EXPECT_EQ(result.lineBytes, img.lineBytes);
            const auto bytes = ReadBytes(outFile.path);
            EXPECT_EQ(bytes.size(), static_cast<size_t>(img.lineBytes) * img.lines);
            EXPECT_EQ(Lines(bytes, result.lineBytes, img.width * bpp), ModelOutput(img, BuiltinKernels[mode], 0))
                << "mode " << mode << " bpp " << bpp;
        }
}

TEST(ScanPostFilter, CustomKernelBottomUpIntoABufferComesTopFirst)
{
    const RawImage img = RandomImage(33, 11, 3, 0, 7);
    TempFile raw("in.raw");
    WriteBytes(raw.path, img.bytes.data(), img.bytes.size());
    PostFilterSettings s = Kernel(2);
    s.useCustomKernel = true;
    const int8_t k[9] = {-128, 127, 90, 127, -3, 127, -128, 127, -128};  // sums wrap in 16 bits
    memcpy(s.customKernel, k, 9);
    s.flags = FLT_BOTTOM_UP;
    s.bufferLines = 3;
    std::vector<uint8_t> buffer(img.bytes.size());
    PostFilterSink sink = {nullptr, buffer.data(), buffer.size()};
    PostFilterOutput result;
    char message[200];
    ASSERT_EQ(PostFilterFile(nullptr, raw.path.c_str(), ImageOf(img), s, &sink, &result, message, sizeof message),
              PF_OK)
        << message;
    EXPECT_EQ(Lines(buffer, img.lineBytes, img.width * 3), ModelOutput(img, k, 0));
}

TEST(ScanPostFilter, DescreenAtAResolution)
{
    for (uint16_t res : {300, 150, 100, 75})
        for (uint32_t bpp : {1u, 3u}) {
            const RawImage img = RandomImage(101, 40, bpp, 1, res);
            TempFile raw("in.raw");
            WriteBytes(raw.path, img.bytes.data(), img.bytes.size());
            const PostFilterSettings s = Descreen(res, FLT_ALIGN_DWORD);
            PostFilterOutput size;
            char message[200];
            ASSERT_EQ(PostFilterOutputSize(ImageOf(img), s, &size, message, sizeof message), PF_OK) << message;
            EXPECT_EQ(size.width, 101u * res / 300);
            EXPECT_EQ(size.lineBytes % 4, 0u);
            std::vector<uint8_t> buffer(static_cast<size_t>(size.lineBytes) * size.lines);
            PostFilterSink sink = {nullptr, buffer.data(), buffer.size()};
            PostFilterOutput result;
            ASSERT_EQ(PostFilterFile(nullptr, raw.path.c_str(), ImageOf(img), s, &sink, &result, message, sizeof message),
                      PF_OK)
                << message;
            EXPECT_EQ(result.width, size.width);
            EXPECT_EQ(result.lineBytes, size.lineBytes);
            EXPECT_EQ(result.lines, size.lines);
            EXPECT_EQ(Lines(buffer, size.lineBytes, size.width * bpp), ModelOutput(img, nullptr, res)) << "res " << res;
        }
}

TEST(ScanPostFilter, RefusalsCarryAStatusAndASentence)
{
    const RawImage img = RandomImage(20, 6, 1, 0, 1);
    TempFile raw("in.raw"), shortRaw("short.raw");
    WriteBytes(raw.path, img.bytes.data(), img.bytes.size());
    WriteBytes(shortRaw.path, img.bytes.data(), img.bytes.size() - 1);
    PostFilterSettings zeroSum = Kernel(0);
    zeroSum.useCustomKernel = true;
    const int8_t k[9] = {127, 127, 2, 0, 0, 0, 0, 0, 0};
    memcpy(zeroSum.customKernel, k, 9);
    PostFilterImage narrowLines = ImageOf(img);
    narrowLines.colour = true;  // 20 colour pixels do not fit 20-byte lines

    std::vector<uint8_t> small(3 * img.lineBytes);
    struct Case {
        const char* what;
        const char* dll;
        std::string path;
        PostFilterImage image;
        PostFilterSettings settings;
        size_t bufferSize;
        int status;
        const char* words;
        uint32_t written;
    } cases[] = {
        {"no library", "C:\\nowhere\\dscrn32.dll", raw.path, ImageOf(img), Kernel(0), 0, PF_NO_LIBRARY, "could not be loaded", 0},
        {"not the filter library", "kernel32.dll", raw.path, ImageOf(img), Kernel(0), 0, PF_NO_EXPORT, "GetDescreenSize", 0},
        {"no raw file", nullptr, raw.path + ".missing", ImageOf(img), Kernel(0), 0, PF_NO_SOURCE, "could not be opened", 0},
        {"raw file one byte short", nullptr, shortRaw.path, ImageOf(img), Kernel(0), 0, PF_SHORT_SOURCE, "119 bytes", 0},
        {"resolution 0", nullptr, raw.path, ImageOf(img), Descreen(0), 0, PF_BAD_SETTINGS, "outside 1 to 300", 0},
        {"resolution 301", nullptr, raw.path, ImageOf(img), Descreen(301), 0, PF_BAD_SETTINGS, "outside 1 to 300", 0},
        {"mode 7", nullptr, raw.path, ImageOf(img), Kernel(7), 0, PF_BAD_SETTINGS, "mode 7", 0},
        {"kernel without divisor", nullptr, raw.path, ImageOf(img), zeroSum, 0, PF_BAD_SETTINGS, "multiple of 256", 0},
        {"lines too short", nullptr, raw.path, narrowLines, Kernel(0), 0, PF_BAD_SETTINGS, "needs 60 bytes", 0},
        {"buffer too small", nullptr, raw.path, ImageOf(img), Kernel(1), small.size(), PF_SINK_FAILED, "no room for line 3", 3},
    };
    for (const auto& c : cases) {
        PostFilterSink sink = {nullptr, small.data(), c.bufferSize ? c.bufferSize : 100000};
        std::vector<uint8_t> big(100000);
        if (!c.bufferSize)
            sink.buffer = big.data();
        PostFilterOutput result;
        char message[300] = "";
        const int status = PostFilterFile(c.dll, c.path.c_str(), c.image, c.settings, &sink, &result, message,
                                          sizeof message);
        EXPECT_EQ(status, c.status) << c.what << ": " << PostFilterStatusName(status) << " " << message;
        EXPECT_NE(strstr(message, c.words), nullptr) << c.what << ": " << message;
        EXPECT_EQ(result.written, c.written) << c.what;
    }
    EXPECT_STREQ(PostFilterStatusName(PF_READ_FAILED), "PF_READ_FAILED");
    EXPECT_STREQ(PostFilterStatusName(99), "PF_UNKNOWN");
}

}  // namespace
