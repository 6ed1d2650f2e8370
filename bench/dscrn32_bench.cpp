// Host benchmark of the dscrn32 line routines on an A4 page at 600 dpi,
// gray and colour, beside memcpy of the same bytes and OpenCV's filter2D
// (one thread) with the same 3x3 kernel, or a 5x5 kernel for descreen.
// Prints MB/s of source and the ratio of times (ours / baseline): at most
// 1.0 means at least as fast.  Not a test: run it by hand.
//
//   dscrn32_bench [--reps N] [--level scalar|sse2|avx2] [--lines N]
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <stdlib.h>

#include "dscrn32_bench_image.h"

namespace {

cv::Mat AsMat(const BenchPage& p)
{
    // A view without the border columns.
    return cv::Mat(static_cast<int>(p.lines), static_cast<int>(p.width), p.bpp == 1 ? CV_8UC1 : CV_8UC3,
                   const_cast<uint8_t*>(p.pixel0(0)), p.stride);
}

cv::Mat KernelMat(const int8_t* k, uint8_t divisor)
{
    cv::Mat m(3, 3, CV_32F);
    for (int i = 0; i < 9; i++)
        m.at<float>(i / 3, i % 3) = static_cast<float>(k[i]) / divisor;
    return m;
}

cv::Mat DiamondMat()
{
    cv::Mat m = cv::Mat::zeros(5, 5, CV_32F);
    const int rows[5][2] = {{2, 2}, {1, 3}, {0, 4}, {1, 3}, {2, 2}};
    for (int r = 0; r < 5; r++)
        for (int c = rows[r][0]; c <= rows[r][1]; c++)
            m.at<float>(r, c) = 1.0f / 13;
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    int reps = 5;
    int level = BestLineLevel();
    uint32_t lines = PAGE_LINES;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "--reps"))
            reps = std::max(1, atoi(argv[i + 1]));
        else if (!strcmp(argv[i], "--lines"))
            lines = static_cast<uint32_t>(std::max(5, atoi(argv[i + 1])));
        else if (!strcmp(argv[i], "--level"))
            for (int l = 0; l < LINE_LEVELS; l++)
                if (!strcmp(argv[i + 1], LineLevelName(l)))
                    level = l;
    }
    const LineRoutines* r = LineRoutinesFor(level);
    if (!r) {
        fprintf(stderr, "dscrn32_bench: this processor has no %s\n", LineLevelName(level));
        return 2;
    }
    cv::setNumThreads(1);
    printf("dscrn32 line routines (%s), page %u x %u, median of %d runs, OpenCV %s single-threaded\n",
           LineLevelName(level), PAGE_WIDTH, lines, reps, CV_VERSION);
    printf("%-8s %-14s %10s %10s %8s %10s %8s\n", "pixels", "routine", "MB/s", "filter2D", "t/t_cv",
           "memcpy", "t/t_mem");

    bool allMet = true;
    for (uint32_t bpp : {1u, 3u}) {
        const BenchPage page = MakeBenchPage(PAGE_WIDTH, lines, bpp);
        const size_t bytes = page.sourceBytes();
        const size_t lineBytes = static_cast<size_t>(page.width) * bpp;
        std::vector<uint8_t> out(bytes), copy(bytes);
        const cv::Mat src = AsMat(page);
        cv::Mat dst;
        const char* kind = bpp == 1 ? "gray" : "colour";

        const double tMem = MedianSeconds(reps, [&] {
            for (uint32_t y = 0; y < page.lines; y++)
                memcpy(copy.data() + y * lineBytes, page.pixel0(y), lineBytes);
        });

        for (int mode = 0; mode < 6; mode++) {
            const int8_t* k = BuiltinKernels[mode];
            const cv::Mat km = KernelMat(k, KernelDivisor(k));
            double t = 0, tCv = 0;
            MedianSecondsPair(
                reps, [&] { KernelPage(r, page, k, out.data(), lineBytes); },
                [&] { cv::filter2D(src, dst, -1, km, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, &t, &tCv);
            char name[32];
            snprintf(name, sizeof name, "kernel %d", mode);
            printf("%-8s %-14s %10.0f %10.0f %8.2f %10.0f %8.2f\n", kind, name, MegabytesPerSecond(bytes, t),
                   MegabytesPerSecond(bytes, tCv), t / tCv, MegabytesPerSecond(bytes, tMem), t / tMem);
            allMet = allMet && t <= tCv;
        }
        const cv::Mat diamond = DiamondMat();
        for (uint32_t res : {300u, 150u}) {
            double t = 0, tCv5 = 0;
            MedianSecondsPair(
                reps, [&] { DescreenPage(r, page, res, out.data(), lineBytes); },
                [&] { cv::filter2D(src, dst, -1, diamond, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE); }, &t,
                &tCv5);
            char name[32];
            snprintf(name, sizeof name, "descreen %u", res);
            printf("%-8s %-14s %10.0f %10.0f %8.2f %10.0f %8.2f\n", kind, name, MegabytesPerSecond(bytes, t),
                   MegabytesPerSecond(bytes, tCv5), t / tCv5, MegabytesPerSecond(bytes, tMem), t / tMem);
            allMet = allMet && t <= tCv5;
        }
    }
    printf("targets (kernels <= filter2D 3x3, descreen <= filter2D 5x5): %s\n", allMet ? "met" : "NOT met");
    return 0;
}
