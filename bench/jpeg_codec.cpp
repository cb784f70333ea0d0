// Encoding and decoding one 640 x 480 slot picture through JpegFile, each beside a bare
// libjpeg-turbo encode or decode of the same picture (baseline, quality 90, blue-green-red
// rows, memory to memory), measured alternately in the same run.
//
// Usage: bench_jpeg_codec [google-benchmark options]
#include "imaging/JpegFile.h"

#include <QImage>

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

QImage cameraPicture()
{
    QImage picture(640, 480, QImage::Format_BGR888);
    for (int y = 0; y < picture.height(); ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            row[3 * x] = uchar((x / 3 + y / 5) & 0xFF);
            row[3 * x + 1] = uchar((y / 2 + ((x * y) >> 9)) & 0xFF);
            row[3 * x + 2] = uchar((128 + (x ^ y) / 8) & 0xFF);
        }
    }
    return picture;
}

// The plainest use of the library: defaults, quality 90, one row per call.
std::vector<unsigned char> bareEncode(const QImage &picture)
{
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char *output = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &output, &size);
    info.image_width = JDIMENSION(picture.width());
    info.image_height = JDIMENSION(picture.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<uchar *>(picture.constScanLine(int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<unsigned char> result(output, output + size);
    std::free(output);
    return result;
}

void bareDecode(const unsigned char *data, unsigned long size, std::vector<unsigned char> &pixels)
{
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    const size_t stride = size_t(info.output_width) * 3;
    pixels.resize(stride * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + info.output_scanline * stride;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

struct Pair {
    std::vector<double> system;
    std::vector<double> bare;
};
Pair g_encode;
Pair g_decode;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template<typename Work> double msOf(Work &&work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration runs the system's call and the bare call back to back, so both see the same
// machine load; the reported time is the system's.
void BM_Encode(benchmark::State &state)
{
    const QImage picture = cameraPicture();
    for (auto _ : state) {
        QByteArray system;
        std::vector<unsigned char> bare;
        const double systemMs = msOf([&] { system = JpegFile::encode(picture); });
        const double bareMs = msOf([&] { bare = bareEncode(picture); });
        benchmark::DoNotOptimize(system.data());
        benchmark::DoNotOptimize(bare.data());
        g_encode.system.push_back(systemMs);
        g_encode.bare.push_back(bareMs);
        state.SetIterationTime(systemMs / 1000);
    }
    state.counters["bare_median_ms"] = median(g_encode.bare);
    state.counters["ratio"] = median(g_encode.system) / median(g_encode.bare);
}

void BM_Decode(benchmark::State &state)
{
    const QByteArray file = JpegFile::encode(cameraPicture());
    const auto *data = reinterpret_cast<const unsigned char *>(file.constData());
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        QImage system;
        const double systemMs = msOf([&] { system = JpegFile::decode(file); });
        const double bareMs = msOf([&] { bareDecode(data, static_cast<unsigned long>(file.size()), pixels); });
        benchmark::DoNotOptimize(system.constBits());
        benchmark::DoNotOptimize(pixels.data());
        g_decode.system.push_back(systemMs);
        g_decode.bare.push_back(bareMs);
        state.SetIterationTime(systemMs / 1000);
    }
    state.counters["bare_median_ms"] = median(g_decode.bare);
    state.counters["ratio"] = median(g_decode.system) / median(g_decode.bare);
}

BENCHMARK(BM_Encode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(501);
BENCHMARK(BM_Decode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(501);

void row(const char *name, const Pair &pair)
{
    const double system = median(pair.system);
    const double bare = median(pair.bare);
    std::printf("%-34s %10.3f %10.3f %8.2f\n", name, system, bare, bare > 0 ? system / bare : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::printf("\n%-34s %10s %10s %8s\n", "640 x 480 picture, median (ms)", "JpegFile", "bare", "ratio");
    row("encode (baseline, quality 90)", g_encode);
    row("decode (full size, 24-bit)", g_decode);
    std::printf("target: ratio <= 1.25\n");
    return 0;
}
