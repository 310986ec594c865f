// Decoding speed of FLV Nellymoser input: builds an FLV file of arbitrary
// blocks (every 64-byte pattern is a valid block) and times decodeFlvAudio.
// Usage: bench_flvBench [seconds of 8 kHz audio, default 600] [repeats, default 3]
#include "frontend/flvimpl.h"
#include "run/utility.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>

static std::string bigEndian(uint32_t value, int byteCount) {
    std::string out;
    for (int i = byteCount - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    if (seconds <= 0 || repeats <= 0) return 1;
    long blockCount = static_cast<long>(seconds) * 8000 / NELLY_BLOCK_SAMPLES;
    std::mt19937 random(7);
    // One block per tag, as written at 8000 Hz.
    std::string bytes = std::string("FLV\x01\x04", 5) + bigEndian(9, 4) + bigEndian(0, 4);
    for (long b = 0; b < blockCount; ++b) {
        std::string data(1, '\x52');
        for (int i = 0; i < NELLY_BLOCK_BYTES; ++i) data += static_cast<char>(random() & 0xFF);
        std::string tag = std::string(1, '\x08') + bigEndian(static_cast<uint32_t>(data.size()), 3) +
                          bigEndian(static_cast<uint32_t>(b * 32), 3) + std::string(4, '\0') + data;
        bytes += tag + bigEndian(static_cast<uint32_t>(tag.size()), 4);
    }
    std::string path = "/tmp/flvBench_" + std::to_string(getpid()) + ".flv";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 1;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);

    std::printf("file: %ld blocks, %zu bytes, %d s of 8 kHz audio\n", blockCount, bytes.size(), seconds);
    for (int r = 0; r < repeats; ++r) {
        int32_t rate = 0, bits = 0;
        int64_t start = clockMs();
        std::vector<int32_t> samples = readFlvAudioFile(path, rate, bits);
        double took = elapsedSeconds(start);
        std::printf("run %d: %zu samples in %.3f s, %.0f x real time\n", r + 1, samples.size(), took,
                    took > 0 ? seconds / took : 0.0);
    }
    std::remove(path.c_str());
    return 0;
}
