// Throughput of the start-sector classifier over 64 MiB of 512-byte sectors held in memory:
// random bytes, zeros, and a mix that looks like a used card (compressed picture data,
// empty space, text, directory sectors and the odd file start), and the sample camera card.
// BM_ReadMemoryBaseline reads the same amount of memory once: the classifier should come
// close to it, as the search pass should come close to cat image > /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "scan/classifier.h"

namespace {

using morvane::ClassifySector;
using morvane::TCameraMode;

constexpr size_t kSectorSize = 512;
constexpr size_t kBufferSize = 64u << 20;
// The search pass classifies sectors just read into its read-ahead cache, so the same data
// is also measured in a buffer that stays in the processor's cache (the classifier's own
// cost); 256 KiB, so that the branch predictor cannot learn the whole sequence.
constexpr int64_t kCachedSize = 256 << 10;

// Every benchmark runs over 64 MiB in memory and over a cache-resident buffer.
void BufferSizes(benchmark::internal::Benchmark* b) {
  b->Arg(static_cast<int64_t>(kBufferSize))->Arg(kCachedSize)->Unit(benchmark::kMicrosecond);
}

size_t BufferSize(const benchmark::State& state) { return static_cast<size_t>(state.range(0)); }

std::vector<uint8_t> RandomBytes(size_t size, uint64_t seed) {
  std::vector<uint8_t> bytes(size);
  std::mt19937_64 rng(seed);
  for (size_t i = 0; i + 8 <= size; i += 8) {
    uint64_t v = rng();
    std::memcpy(&bytes[i], &v, 8);
  }
  return bytes;
}

void FillText(uint8_t* sector, std::mt19937_64& rng) {
  static const char kWords[] =
      "the camera card was formatted by mistake and every holiday picture seems gone, "
      "but the data is still there until new files overwrite it. ";
  size_t start = rng() % (sizeof kWords - 1);
  for (size_t i = 0; i < kSectorSize; ++i) sector[i] = static_cast<uint8_t>(kWords[(start + i) % (sizeof kWords - 1)]);
}

void PutEntry(uint8_t* entry, const char* name83, uint8_t attributes, uint16_t date, uint32_t size) {
  std::memcpy(entry, name83, 11);
  entry[11] = attributes;
  entry[24] = static_cast<uint8_t>(date);
  entry[25] = static_cast<uint8_t>(date >> 8);
  std::memcpy(entry + 28, &size, 4);
}

void FillDirectory(uint8_t* sector, std::mt19937_64& rng) {
  const uint16_t date = static_cast<uint16_t>((29 << 9) | (5 << 5) | 1);  // 2009-05-01
  size_t used = 1 + rng() % 16;
  for (size_t i = 0; i < used; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "IMG_%04zuJPG", i);
    PutEntry(sector + 32 * i, name, 0x20, date, 100000);
    if (rng() % 4 == 0) sector[32 * i] = 0xE5;
  }
}

// Per sector: 45% compressed data, 30% zeros, 15% text, 5% directories, 5% file starts.
std::vector<uint8_t> MixedSectors(size_t size) {
  std::vector<uint8_t> bytes = RandomBytes(size, 7);
  std::mt19937_64 rng(11);
  for (size_t off = 0; off + kSectorSize <= size; off += kSectorSize) {
    uint8_t* sector = &bytes[off];
    unsigned kind = rng() % 100;
    if (kind < 45) continue;
    if (kind < 75) {
      std::memset(sector, 0, kSectorSize);
    } else if (kind < 90) {
      FillText(sector, rng);
    } else if (kind < 95) {
      std::memset(sector, 0, kSectorSize);
      FillDirectory(sector, rng);
    } else {
      static const uint8_t kJpeg[] = {0xFF, 0xD8, 0xFF, 0xE1};
      static const uint8_t kPack[] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01};
      if (rng() % 2) {
        std::memcpy(sector, kJpeg, sizeof kJpeg);
      } else {
        std::memcpy(sector, kPack, sizeof kPack);
      }
    }
  }
  return bytes;
}

void ClassifyAll(benchmark::State& state, const std::vector<uint8_t>& bytes, size_t sectorSize) {
  const TCameraMode mode;
  for (auto _ : state) {
    unsigned found = 0;
    for (size_t off = 0; off + sectorSize <= bytes.size(); off += sectorSize) {
      found += ClassifySector(&bytes[off], static_cast<uint32_t>(sectorSize), mode) != 0;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

// The yardstick: reading every byte of the same amount of memory once.
void BM_ReadMemoryBaseline(benchmark::State& state) {
  const std::vector<uint8_t> bytes = RandomBytes(BufferSize(state), 3);
  for (auto _ : state) {
    uint64_t sum = 0;
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      uint64_t v;
      std::memcpy(&v, &bytes[i], 8);
      sum += v;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ReadMemoryBaseline)->Apply(BufferSizes);

void BM_ClassifyRandomSectors(benchmark::State& state) {
  ClassifyAll(state, RandomBytes(BufferSize(state), 3), kSectorSize);
}
BENCHMARK(BM_ClassifyRandomSectors)->Apply(BufferSizes);

void BM_ClassifyZeroSectors(benchmark::State& state) {
  ClassifyAll(state, std::vector<uint8_t>(BufferSize(state), 0), kSectorSize);
}
BENCHMARK(BM_ClassifyZeroSectors)->Apply(BufferSizes);

void BM_ClassifyZeroSectors4K(benchmark::State& state) {
  ClassifyAll(state, std::vector<uint8_t>(BufferSize(state), 0), 4096);
}
BENCHMARK(BM_ClassifyZeroSectors4K)->Apply(BufferSizes);

void BM_ClassifyMixedSectors(benchmark::State& state) {
  ClassifyAll(state, MixedSectors(BufferSize(state)), kSectorSize);
}
BENCHMARK(BM_ClassifyMixedSectors)->Apply(BufferSizes);

// The sample camera card (a real FAT32 image with photos), when xz can unpack it.
void BM_ClassifySampleCard(benchmark::State& state) {
  const auto image = std::filesystem::path(__FILE__).parent_path().parent_path() / "samples" / "card.img.xz";
  std::vector<uint8_t> bytes;
  if (std::FILE* pipe = std::filesystem::exists(image) ? ::popen(("xz -dc '" + image.string() + "'").c_str(), "r") : nullptr) {
    uint8_t chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
    ::pclose(pipe);
  }
  if (bytes.size() < kSectorSize) {
    state.SkipWithError("samples/card.img.xz not available");
    return;
  }
  ClassifyAll(state, bytes, kSectorSize);
}
BENCHMARK(BM_ClassifySampleCard)->Unit(benchmark::kMillisecond);

}  // namespace
