// MD5-crypt and segmented DES beside libxcrypt's crypt_r on the same settings, and beside the
// floor of MD5-crypt: the MD5 compressions that the scheme needs, run back to back.
//
// Rows come in groups: ours, libxcrypt, floor for each password length; then segmented DES of a
// 130-character password beside its 16 crypt_r calls.
#include <benchmark/benchmark.h>
#include <crypt.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "md5.h"
#include "md5_crypt.h"
#include "segmented_des.h"

namespace {

const std::string kSetting = "$1$Qw3.rt/9";
constexpr std::size_t kSaltLength = 8;

std::string password(std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += static_cast<char>('!' + (i * 7) % 90);
  }
  return text;
}

std::size_t blocks(std::size_t messageLength) { return (messageLength + 8) / 64 + 1; }

// The compressions of a plain MD5-crypt of an n-byte password with an 8-character salt: the
// alternate digest, the initial digest and the 1000 rounds.
std::size_t md5CryptCompressions(std::size_t n) {
  std::size_t bits = 0;
  for (std::size_t i = n; i != 0; i >>= 1) ++bits;
  std::size_t count = blocks(2 * n + kSaltLength) + blocks(n + 3 + kSaltLength + n + bits);
  for (int round = 0; round < 1000; ++round) {
    count += blocks(n + 16 + (round % 3 != 0 ? kSaltLength : 0) + (round % 7 != 0 ? n : 0));
  }
  return count;
}

void ours(benchmark::State& state, std::size_t length) {
  const std::string text = password(length);
  for (auto _ : state) {
    vesk::HashText hash = vesk::md5Crypt(text.c_str(), kSetting.c_str());
    benchmark::DoNotOptimize(hash.data());
  }
}

void libxcrypt(benchmark::State& state, std::size_t length) {
  const std::string text = password(length);
  auto data = std::make_unique<crypt_data>();
  for (auto _ : state) {
    const char* hash = crypt_r(text.c_str(), kSetting.c_str(), data.get());
    benchmark::DoNotOptimize(hash);
  }
}

void compressionFloor(benchmark::State& state, std::size_t length) {
  const std::size_t compressions = md5CryptCompressions(length);
  unsigned char block[64] = {1, 2, 3};
  std::uint32_t words[4] = {1, 2, 3, 4};
  for (auto _ : state) {
    for (std::size_t k = 0; k < compressions; ++k) {
      vesk::Md5::compress(words, block);
    }
    benchmark::DoNotOptimize(words);
  }
  state.counters["compressions"] = static_cast<double>(compressions);
}

const std::string kLongPassword = password(130);

void segmentedDes(benchmark::State& state) {
  for (auto _ : state) {
    vesk::HashText hash = vesk::segmentedDesCrypt(kLongPassword.c_str(), "ab");
    benchmark::DoNotOptimize(hash.data());
  }
}

// The same 16 DES crypts, with the salts that segmentedDesCrypt feeds them.
void des16Calls(benchmark::State& state) {
  const std::string result(vesk::segmentedDesCrypt(kLongPassword.c_str(), "ab").view());
  std::vector<std::string> salts = {"ab"};
  for (std::size_t j = 1; j < 16; ++j) {
    salts.push_back(result.substr(2 + 11 * (j - 1), 2));
  }
  auto data = std::make_unique<crypt_data>();
  for (auto _ : state) {
    for (std::size_t j = 0; j < 16; ++j) {
      const char* hash = crypt_r(kLongPassword.c_str() + 8 * j, salts[j].c_str(), data.get());
      benchmark::DoNotOptimize(hash);
    }
  }
}

// With repetitions, the fastest run is reported beside the mean and median: on a shared machine
// it is the figure least disturbed by other work. Run with
//   --benchmark_repetitions=12 --benchmark_enable_random_interleaving=true
//   --benchmark_report_aggregates_only=true
double fastest(const std::vector<double>& runs) {
  return runs.empty() ? 0.0 : *std::min_element(runs.begin(), runs.end());
}

template <typename... Args>
void add(const std::string& name, Args&&... args) {
  benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
      ->ComputeStatistics("min", fastest);
}

int registerAll() {
  for (std::size_t length : {8, 16, 64}) {
    const std::string suffix = "/" + std::to_string(length);
    add("md5Crypt" + suffix, ours, length);
    add("libxcrypt_md5" + suffix, libxcrypt, length);
    add("compression_floor" + suffix, compressionFloor, length);
  }
  add("segmentedDesCrypt/130", segmentedDes);
  add("libxcrypt_des_x16/130", des16Calls);
  return 0;
}

const int registered = registerAll();

}  // namespace

BENCHMARK_MAIN();
