#include "cli/benchmark.h"

#include <string.h>

#include <chrono>

#include "crypto/cpu_features.h"
#include "crypto/sectors.h"
#include "crypto/wipe.h"
#include "volume/body_cipher.h"
#include "volume/header.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kPassword[] = "benchmark password";
constexpr uint32_t kPasswordLength = sizeof kPassword - 1;
constexpr uint32_t kRunSize = 1 << 20;  // bytes per encryption call
constexpr double kMegabytes = double{kRunSize} / 1e6;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Repeats `work` until `budget` seconds have passed (at least `minimum`
// times) and returns the number of runs and the seconds they took.
template <typename Work>
std::pair<int, double> Repeat(double budget, int minimum, Work work) {
  const Clock::time_point start = Clock::now();
  int runs = 0;
  double elapsed = 0;
  do {
    work(runs);
    ++runs;
    elapsed = Seconds(start);
  } while (runs < minimum || elapsed < budget);
  return {runs, elapsed};
}

AlgorithmBenchmark Measure(int algorithm, double budget) {
  AlgorithmBenchmark result;
  result.algorithm = algorithm;

  // One mount opens the header once: the key is derived, then the
  // algorithms are tried in their fixed order until one opens it.
  uint8_t sealed[kHeaderSize];
  uint8_t sectorKey[kBodyKeySize];
  uint8_t sectorIvSeed[kBodyKeySize];
  if (!SealHeader(sealed, kPassword, kPasswordLength, algorithm, sectorKey, sectorIvSeed)) {
    return result;
  }
  uint8_t opened[kHeaderSize];
  const auto [opens, openSeconds] = Repeat(budget / 4, 3, [&](int) {
    memcpy(opened, sealed, kHeaderSize);
    OpenHeader(opened, kPassword, kPasswordLength);
  });
  result.openMilliseconds = openSeconds * 1000 / opens;
  SecureWipe(opened, sizeof opened);

  BodyCipher cipher;
  BodyCipherInit(&cipher, algorithm, sectorKey, sectorIvSeed);
  SecureWipe(sectorKey, sizeof sectorKey);
  SecureWipe(sectorIvSeed, sizeof sectorIvSeed);
  std::vector<uint8_t> buffer(kRunSize);
  uint8_t* data = buffer.data();
  constexpr uint32_t kSectors = kRunSize / kSectorSize;
  const auto [encrypts, encryptSeconds] = Repeat(budget, 2, [&](int run) {
    BodyCipherEncrypt(&cipher, data, uint64_t{kSectors} * run, kSectors);
  });
  result.encryptMbPerSecond = encrypts * kMegabytes / encryptSeconds;
  const auto [decrypts, decryptSeconds] = Repeat(budget, 2, [&](int run) {
    BodyCipherDecrypt(&cipher, data, uint64_t{kSectors} * run, kSectors);
  });
  result.decryptMbPerSecond = decrypts * kMegabytes / decryptSeconds;
  BodyCipherWipe(&cipher);
  return result;
}

}  // namespace

std::vector<AlgorithmBenchmark> MeasureAlgorithms(double secondsPerMeasure) {
  std::vector<AlgorithmBenchmark> results;
  for (int algorithm = kAes128; algorithm <= kBlowfish448; ++algorithm) {
    results.push_back(Measure(algorithm, secondsPerMeasure));
  }
  return results;
}

std::string CryptoFeaturesInUse() {
  std::string features;
  auto add = [&features](bool used, const char* name) {
    if (!used) return;
    if (!features.empty()) features += ", ";
    features += name;
  };
  add(UseVaes(), "VAES");
  add(UseAesNi(), "AES-NI");
  add(UseShaNi(), "SHA extensions");
  return features.empty() ? "none (portable code)" : features;
}

void PrintBenchmark(FILE* out, const std::vector<AlgorithmBenchmark>& results) {
  fprintf(out, "%-14s %14s %14s %14s\n", "Algorithm", "Key (a mount)", "Encryption", "Decryption");
  for (const AlgorithmBenchmark& result : results) {
    fprintf(out, "%-14s %11.1f ms %9.0f MB/s %9.0f MB/s\n", AlgorithmName(result.algorithm),
            result.openMilliseconds, result.encryptMbPerSecond, result.decryptMbPerSecond);
  }
  fprintf(out, "Processor features used: %s\n", CryptoFeaturesInUse().c_str());
}
