// Benchmarks of the cryptography and of volume creation, each beside its
// reference in the same run: OpenSSL's libcrypto for the cryptography, the
// AES-NI path for the VAES path, each path's sector encryption for its
// decryption, the single-core sector speed for Blowfish creation on every
// core, and plain durable writes of the same byte count to
// the same folder for creation. Prints Google Benchmark's figures, then a
// summary of medians, spreads, ratios and the processor features each of our
// paths used.
//
// Environment: VM_BENCH_DIR, the folder for the creation runs (default: the
// working folder); VM_BENCH_CREATE_MB, the size of a created volume
// (default 1024); VM_BENCH_REPETITIONS (default 5, each creation paired
// with a raw write).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/blowfish.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/hmac.h"
#include "crypto/sectors.h"
#include "platform/file.h"
#include "volume/body_cipher.h"
#include "volume/create_volume.h"
#include "volume/header.h"

namespace {

constexpr uint8_t kPassword[] = "benchmark password";
constexpr int32_t kPasswordLength = sizeof kPassword - 1;
constexpr uint32_t kSectorRunSize = 1 << 20;  // bytes encrypted per iteration
constexpr uint32_t kSectorRunCount = kSectorRunSize / kSectorSize;
// Sector numbers that cross 2^32 within a run.
constexpr uint64_t kFirstSector = 0xFFFFFFFFull - kSectorRunCount / 2;
constexpr int kAlgorithms[] = {kAes128, kAes256, kBlowfish128, kBlowfish448};

int EnvironmentNumber(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

std::string BenchFolder() {
  const char* value = std::getenv("VM_BENCH_DIR");
  std::string folder = value != nullptr && *value != '\0' ? value : ".";
  return folder.back() == '/' ? folder : folder + "/";
}

std::vector<uint8_t> Bytes(size_t size, uint8_t step) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * step + 7);
  return bytes;
}

const char* PathName(bool fast) { return fast ? "fast" : "portable"; }

// The sector paths that can be chosen on one machine: VAES and AES-NI for
// AES where the processor has them, the fast path of each cipher, and the
// portable code.
enum class SectorPath { kVaes, kAesNi, kFast, kPortable };

const char* SectorPathName(SectorPath path) {
  switch (path) {
    case SectorPath::kVaes:
      return "vaes";
    case SectorPath::kAesNi:
      return "aes-ni";
    case SectorPath::kFast:
      return "fast";
    case SectorPath::kPortable:
      break;
  }
  return "portable";
}

void SelectPath(SectorPath path) {
  SetFastPathsEnabled(path != SectorPath::kPortable);
  SetVaesEnabled(path != SectorPath::kAesNi);
}

void SelectDefaultPath() {
  SetFastPathsEnabled(true);
  SetVaesEnabled(true);
}

// The paths measured for `algorithm` on this processor.
std::vector<SectorPath> SectorPaths(int algorithm) {
  if (!AlgorithmIsAes(algorithm)) return {SectorPath::kFast, SectorPath::kPortable};
  std::vector<SectorPath> paths;
  if (UseVaes()) paths.push_back(SectorPath::kVaes);
  if (UseAesNi()) paths.push_back(SectorPath::kAesNi);
  paths.push_back(SectorPath::kPortable);
  return paths;
}

// The processor features that the sector code of `algorithm` uses on the
// selected path: the cipher's, then those of the IVs' SHA-1.
std::string FeaturesUsed(int algorithm) {
  std::string cipher;
  if (AlgorithmIsAes(algorithm)) {
    cipher = UseVaes() ? "VAES+AVX2" : UseAesNi() ? "AES-NI" : "";
  } else if (FastPathsEnabled()) {
    cipher = "4 lanes";
  }
  const std::string sha = UseShaNi() ? "SHA-NI" : "";
  if (cipher.empty() && sha.empty()) return "plain C++";
  return cipher.empty() ? sha : sha.empty() ? cipher : cipher + ", " + sha;
}

std::string FeaturesOf(int algorithm, SectorPath path) {
  SelectPath(path);
  std::string features = FeaturesUsed(algorithm);
  SelectDefaultPath();
  return features;
}

// The features of each benchmark's path, by benchmark name, for the summary.
std::map<std::string, std::string> g_features;

// --- Key derivation and header opening -------------------------------------

void Pbkdf2Ours(benchmark::State& state, bool fast) {
  SetFastPathsEnabled(fast);
  const std::vector<uint8_t> salt = Bytes(kMaxSaltSize, 3);
  uint8_t key[kDerivedKeySize];
  for (auto _ : state) {
    Pbkdf2HmacSha1(kPassword, kPasswordLength, salt.data(), kMaxSaltSize, kPbkdf2Iterations, key,
                   kDerivedKeySize);
    benchmark::DoNotOptimize(key);
  }
  SetFastPathsEnabled(true);
}

void Pbkdf2OpenSsl(benchmark::State& state) {
  const std::vector<uint8_t> salt = Bytes(kMaxSaltSize, 3);
  uint8_t key[kDerivedKeySize];
  for (auto _ : state) {
    PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(kPassword), kPasswordLength, salt.data(),
                           kMaxSaltSize, kPbkdf2Iterations, kDerivedKeySize, key);
    benchmark::DoNotOptimize(key);
  }
}

void OpenHeaderWrongPassword(benchmark::State& state, bool fast) {
  uint8_t sealed[kHeaderSize], sectorKey[kBodyKeySize], sectorIvSeed[kBodyKeySize];
  if (!SealHeader(sealed, kPassword, kPasswordLength, kBlowfish448, sectorKey, sectorIvSeed)) {
    state.SkipWithError("SealHeader failed");
    return;
  }
  SetFastPathsEnabled(fast);
  const uint8_t wrong[] = "not the password";
  for (auto _ : state) {
    benchmark::DoNotOptimize(OpenHeader(sealed, wrong, sizeof wrong - 1));
  }
  SetFastPathsEnabled(true);
}

// --- Sector encryption ---------------------------------------------------------

// Encrypts, or with `decrypt` decrypts, the same run of sectors.
void SectorsOurs(benchmark::State& state, int algorithm, SectorPath path, bool decrypt) {
  const std::vector<uint8_t> keys = Bytes(2 * kBodyKeySize, 5);
  BodyCipher cipher;
  BodyCipherInit(&cipher, algorithm, keys.data(), keys.data() + kBodyKeySize);
  SelectPath(path);
  std::vector<uint8_t> data(kSectorRunSize, 0);
  for (auto _ : state) {
    if (decrypt) {
      BodyCipherDecrypt(&cipher, data.data(), kFirstSector, kSectorRunCount);
    } else {
      BodyCipherEncrypt(&cipher, data.data(), kFirstSector, kSectorRunCount);
    }
    benchmark::ClobberMemory();
  }
  SelectDefaultPath();
  BodyCipherWipe(&cipher);
  state.SetBytesProcessed(int64_t(state.iterations()) * kSectorRunSize);
}

// OpenSSL doing the same sector by sector: SHA-1 of seed and sector number
// for the IV, then CBC over the 512 bytes.
void SectorIvOpenSsl(const uint8_t* seed, size_t seedSize, uint64_t sector, uint8_t digest[20]) {
  uint8_t message[24];
  memcpy(message, seed, seedSize);
  for (int b = 0; b < 8; ++b) message[seedSize + b] = static_cast<uint8_t>(sector >> (8 * b));
  SHA1(message, seedSize + 8, digest);
}

void AesSectorsOpenSsl(const uint8_t* key, int algorithm, const uint8_t* seed, uint8_t* data,
                       uint64_t firstSector, uint32_t count, EVP_CIPHER_CTX* ctx) {
  EVP_EncryptInit_ex(ctx, algorithm == kAes128 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr,
                     key, nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  for (uint32_t i = 0; i < count; ++i, data += kSectorSize) {
    uint8_t iv[20];
    SectorIvOpenSsl(seed, 16, firstSector + i, iv);
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, iv);
    int length = 0;
    EVP_EncryptUpdate(ctx, data, &length, data, kSectorSize);
  }
}

void SectorsOpenSsl(benchmark::State& state, int algorithm) {
  const std::vector<uint8_t> keys = Bytes(2 * kBodyKeySize, 5);
  const uint8_t* key = keys.data();
  const uint8_t* seed = keys.data() + kBodyKeySize;
  std::vector<uint8_t> data(kSectorRunSize, 0);
  if (AlgorithmIsAes(algorithm)) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
      AesSectorsOpenSsl(key, algorithm, seed, data.data(), kFirstSector, kSectorRunCount, ctx);
      benchmark::ClobberMemory();
    }
    EVP_CIPHER_CTX_free(ctx);
  } else {
    // Blowfish lives in OpenSSL's legacy provider for EVP; its own
    // interface is the same code without the provider.
    BF_KEY bfKey;
    BF_set_key(&bfKey, static_cast<int>(AlgorithmKeySize(algorithm)), key);
    for (auto _ : state) {
      uint8_t* sector = data.data();
      for (uint32_t i = 0; i < kSectorRunCount; ++i, sector += kSectorSize) {
        uint8_t iv[20];
        SectorIvOpenSsl(seed, 8, kFirstSector + i, iv);
        BF_cbc_encrypt(sector, sector, kSectorSize, &bfKey, iv, BF_ENCRYPT);
      }
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kSectorRunSize);
}

// Our AES sectors must equal OpenSSL's, on every path.
bool AesMatchesOpenSsl() {
  const std::vector<uint8_t> keys = Bytes(2 * kBodyKeySize, 5);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  bool same = true;
  for (int algorithm : {kAes128, kAes256}) {
    std::vector<uint8_t> reference = Bytes(64 * kSectorSize, 9);
    std::vector<uint8_t> input = reference;
    AesSectorsOpenSsl(keys.data(), algorithm, keys.data() + kBodyKeySize, reference.data(),
                      kFirstSector, 64, ctx);
    for (SectorPath path : SectorPaths(algorithm)) {
      BodyCipher cipher;
      BodyCipherInit(&cipher, algorithm, keys.data(), keys.data() + kBodyKeySize);
      SelectPath(path);
      std::vector<uint8_t> ours = input;
      BodyCipherEncrypt(&cipher, ours.data(), kFirstSector, 64);
      same = same && ours == reference;
      BodyCipherWipe(&cipher);
    }
  }
  SelectDefaultPath();
  EVP_CIPHER_CTX_free(ctx);
  return same;
}

// --- Volume creation against durable raw writes -------------------------------

uint32_t CreateMegabytes() {
  return static_cast<uint32_t>(EnvironmentNumber("VM_BENCH_CREATE_MB", 1024));
}

// The physical limit: the same number of zero bytes to the same folder in
// 1 MiB writes, then flushed to the disk. Seconds, or a negative number on
// a failure.
double TimeRawWrite(const std::string& path, uint32_t megabytes) {
  const std::vector<uint8_t> zeros(kMegabyte, 0);
  const auto start = std::chrono::steady_clock::now();
  const int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
  bool ok = fd >= 0;
  for (uint32_t i = 0; ok && i < megabytes; ++i) {
    ok = write(fd, zeros.data(), zeros.size()) == static_cast<ssize_t>(zeros.size());
  }
  ok = ok && fdatasync(fd) == 0;
  if (fd >= 0) close(fd);
  const auto end = std::chrono::steady_clock::now();
  unlink(path.c_str());
  return ok ? std::chrono::duration<double>(end - start).count() : -1;
}

// A raw write whose deleted file has been committed: the blocks of a deleted
// file are freed when the file system next commits, and sync() does that
// outside the timed span, so that what runs next starts on a quiet disk.
double SettledRawWrite(uint32_t megabytes) {
  const double seconds = TimeRawWrite(BenchFolder() + "vm-bench-raw.bin", megabytes);
  sync();
  return seconds;
}

// Seconds of the raw write paired with each creation, by benchmark name.
std::map<std::string, std::vector<double>> g_pairedRawSeconds;
// Pairs run so far, by benchmark name: the order within a pair alternates.
std::map<std::string, int> g_pairCount;

// Creates the volume described by `input` in `fileSystem` and removes it;
// seconds, or a negative number on a failure (then `error` says why).
double TimeCreation(FileSystem& fileSystem, const CreateVolumeInput& input, std::string* error) {
  const auto start = std::chrono::steady_clock::now();
  const CreateVolumeOutcome result = CreateVolume(fileSystem, input);
  const auto end = std::chrono::steady_clock::now();
  fileSystem.Remove(input.volumePath);
  if (!result.outcome.success) {
    *error = result.outcome.message;
    return -1;
  }
  return std::chrono::duration<double>(end - start).count();
}

CreateVolumeInput BenchVolume(int algorithm) {
  CreateVolumeInput input;
  input.volumePath = BenchFolder() + "vm-bench-volume.vmv";
  input.sizeMb = CreateMegabytes();
  input.password = reinterpret_cast<const char*>(kPassword);
  input.confirmation = input.password;
  input.algorithm = algorithm;
  return input;
}

// Each iteration is a pair: the raw reference and the creation, one after the
// other, so that the disk's mood of the moment falls on both figures. Each
// run starts after the previous one's deleted file has been committed, and
// the order alternates from pair to pair, so that what the disk still does
// after a run (its own cache, its clean-up) falls on both alike; the summary
// shows the ratio for each order.
void CreateOurs(benchmark::State& state, int algorithm) {
  const std::string name = std::string("create/") + AlgorithmName(algorithm);
  const CreateVolumeInput input = BenchVolume(algorithm);
  for (auto _ : state) {
    const bool rawFirst = g_pairCount[name]++ % 2 == 0;
    std::string error;
    double raw = 0, created = 0;
    if (rawFirst) raw = SettledRawWrite(input.sizeMb);
    if (raw >= 0) created = TimeCreation(SystemFileSystem(), input, &error);
    sync();
    if (!rawFirst && created >= 0) raw = SettledRawWrite(input.sizeMb);
    if (raw < 0 || created < 0) {
      state.SkipWithError(raw < 0 ? "raw write failed" : error.c_str());
      return;
    }
    g_pairedRawSeconds[name].push_back(raw);
    state.SetIterationTime(created);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * input.sizeMb * kMegabyte);
}

// A file system that keeps nothing: creation without the disk, to see how
// fast the encryption threads make the body.
class DiscardingFileSystem : public FileSystem {
  class DiscardedFile : public File {
   public:
    bool ReadAt(uint64_t, void*, uint32_t) override { return false; }
    bool WriteAt(uint64_t, const void*, uint32_t) override { return true; }
    bool Size(uint64_t* size) override {
      *size = 0;
      return true;
    }
    bool SetSize(uint64_t) override { return true; }
    bool Flush() override { return true; }
  };

 public:
  std::unique_ptr<File> Open(const std::string&, OpenMode) override {
    return std::make_unique<DiscardedFile>();
  }
  bool Remove(const std::string&) override { return true; }
  bool FreeSpace(const std::string&, uint64_t*) override { return false; }
};

double ProcessSeconds() {
  timespec time;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &time);
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

// Processor seconds of the whole process over wall seconds, for each
// creation without the disk, by benchmark name: how many cores it had.
std::map<std::string, std::vector<double>> g_coresBusy;

void CreateWithoutDisk(benchmark::State& state, int algorithm) {
  const std::string name = std::string("create-without-disk/") + AlgorithmName(algorithm);
  DiscardingFileSystem discarding;
  const CreateVolumeInput input = BenchVolume(algorithm);
  for (auto _ : state) {
    std::string error;
    const double processor = ProcessSeconds();
    const double created = TimeCreation(discarding, input, &error);
    if (created < 0) {
      state.SkipWithError(error.c_str());
      return;
    }
    g_coresBusy[name].push_back((ProcessSeconds() - processor) / created);
    state.SetIterationTime(created);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * input.sizeMb * kMegabyte);
}

// --- Summary -------------------------------------------------------------------

// Seconds per iteration of every repetition, by benchmark name.
std::map<std::string, std::vector<double>> g_seconds;
std::map<std::string, double> g_bytes;  // bytes per iteration, for throughput

// Shows Google Benchmark's aggregates and keeps every repetition for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    std::vector<Run> shown;
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median" || run.aggregate_name == "cv") shown.push_back(run);
        continue;
      }
      if (run.error_occurred || run.iterations == 0) continue;
      // The cryptography runs on the benchmark's own thread: its processor
      // time is immune to the scheduler handing the core to other
      // processes. Creation uses other threads and waits for the disk: wall
      // time.
      const bool wallTime = run.run_name.function_name.rfind("create", 0) == 0;
      const double seconds = (wallTime ? run.real_accumulated_time : run.cpu_accumulated_time) /
                             static_cast<double>(run.iterations);
      g_seconds[run.run_name.function_name].push_back(seconds);
      const auto bytes = run.counters.find("bytes_per_second");
      if (bytes != run.counters.end()) {
        g_bytes[run.run_name.function_name] = bytes->second.value * seconds;
      }
    }
    if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
  }
};

struct Figure {
  double median = 0, spread = 0;  // seconds per iteration; (max - min) / median
  bool present = false;
};

Figure FigureOf(const std::string& name) {
  Figure figure;
  auto found = g_seconds.find(name);
  if (found == g_seconds.end() || found->second.empty()) return figure;
  std::vector<double> values = found->second;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  figure.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  figure.spread = (values.back() - values.front()) / figure.median;
  figure.present = true;
  return figure;
}

std::string Value(const std::string& name, const Figure& figure) {
  char text[64];
  auto bytes = g_bytes.find(name);
  if (bytes != g_bytes.end()) {
    snprintf(text, sizeof text, "%8.3f GB/s", bytes->second / figure.median / 1e9);
  } else {
    snprintf(text, sizeof text, "%8.3f ms  ", figure.median * 1e3);
  }
  return text;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One line: our figure, the reference's, the ratio that the goal names (time
// for time ratios, speed for speed ratios) against the goal, and the
// processor features of our path.
void Line(const std::string& label, const std::string& ours, const std::string& reference,
          bool timeRatio, const char* goal, const std::string& features) {
  const Figure a = FigureOf(ours), b = FigureOf(reference);
  if (!a.present || !b.present) {
    printf("%-34s  (not measured)\n", label.c_str());
    return;
  }
  // Time ratio: our time / reference time (lower is better). Speed ratio:
  // our speed / reference speed (higher is better), from the bytes per
  // iteration of each.
  const double ratio = timeRatio ? a.median / b.median
                                 : (g_bytes[ours] / a.median) / (g_bytes[reference] / b.median);
  printf("%-34s %s ±%3.0f%%   %s ±%3.0f%%   %6.2fx  %-15s %s\n", label.c_str(),
         Value(ours, a).c_str(), a.spread * 100, Value(reference, b).c_str(), b.spread * 100, ratio,
         goal, features.c_str());
}

std::string CreationFeatures(int algorithm) {
  const uint32_t threads = EncryptionThreadCount(algorithm);
  return FeaturesOf(algorithm, AlgorithmIsAes(algorithm) ? SectorPath::kVaes : SectorPath::kFast) +
         ", " + std::to_string(threads) + (threads == 1 ? " thread" : " threads");
}

// Creation against the raw write paired with it, by the pairs' ratios of raw
// time / creation time: their median for the pairs that ran the raw write
// first and for those that ran the creation first, and the geometric mean of
// the two as the figure. Whatever favours the first or the second run of a
// pair multiplies one order's ratio and divides the other's, and cancels.
void CreateLine(int algorithm) {
  const std::string name = std::string("create/") + AlgorithmName(algorithm);
  const std::string label =
      "create " + std::to_string(CreateMegabytes()) + " MiB " + AlgorithmName(algorithm);
  const auto created = g_seconds.find(name);
  const auto raw = g_pairedRawSeconds.find(name);
  if (created == g_seconds.end() || raw == g_pairedRawSeconds.end() ||
      created->second.size() != raw->second.size() || raw->second.empty()) {
    printf("%-34s  (not measured)\n", label.c_str());
    return;
  }
  std::vector<double> ratios, order[2];
  for (size_t i = 0; i < raw->second.size(); ++i) {
    ratios.push_back(raw->second[i] / created->second[i]);
    order[i % 2].push_back(ratios.back());
  }
  g_seconds[name + "/raw"] = raw->second;
  g_bytes[name + "/raw"] = g_bytes[name];
  const Figure ours = FigureOf(name), reference = FigureOf(name + "/raw");
  const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
  printf("%-34s %s ±%3.0f%%   %s ±%3.0f%%   %6.2fx  %-15s %s\n", label.c_str(),
         Value(name, ours).c_str(), ours.spread * 100, Value(name + "/raw", reference).c_str(),
         reference.spread * 100,
         order[1].empty() ? Median(order[0]) : std::sqrt(Median(order[0]) * Median(order[1])),
         AlgorithmIsAes(algorithm) ? "speed >= 0.9x" : "", CreationFeatures(algorithm).c_str());
  char creationFirst[16] = "(none)";
  if (!order[1].empty()) snprintf(creationFirst, sizeof creationFirst, "%.2fx", Median(order[1]));
  printf("%-34s pairs %.2fx to %.2fx; raw write first %.2fx, creation first %s\n", "", *low, *high,
         Median(order[0]), creationFirst);
}

void PrintSummary(bool aesMatches) {
  printf("\nSummary: medians of the repetitions, ± the spread (max - min) / median;\n");
  printf("processor time of the benchmark thread for the cryptography, wall time for creation\n");
  printf("AES sectors identical to OpenSSL's on every path: %s\n", aesMatches ? "yes" : "NO");
  printf("Processor: VAES with AVX2 %s, AES-NI %s, SHA extensions %s, %u cores\n",
         UseVaes() ? "yes" : "no", UseAesNi() ? "yes" : "no", UseShaNi() ? "yes" : "no",
         std::thread::hardware_concurrency());
  if (const char* mask = std::getenv("OPENSSL_ia32cap")) {
    printf("OpenSSL's processor features masked: OPENSSL_ia32cap=%s\n", mask);
  }
  printf("%-34s %-19s %-19s %-8s %-15s %s\n", "", "ours", "reference", "ratio", "goal",
         "our features");
  const std::string sha = UseShaNi() ? "SHA-NI" : "plain C++";
  Line("PBKDF2, fast path", "pbkdf2/ours-fast", "pbkdf2/openssl", true, "time <= 0.6x", sha);
  Line("PBKDF2, portable", "pbkdf2/ours-portable", "pbkdf2/openssl", true, "time <= 1.5x",
       "plain C++");
  Line("OpenHeader wrong password, fast", "open-header-wrong/ours-fast", "pbkdf2/openssl", true,
       "time <= 0.6x", sha);
  Line("OpenHeader wrong password, port.", "open-header-wrong/ours-portable", "pbkdf2/openssl",
       true, "time <= 1.5x", "plain C++");
  for (int algorithm : kAlgorithms) {
    const std::string name = AlgorithmName(algorithm);
    const std::string prefix = "sectors/" + name + "/";
    for (SectorPath path : SectorPaths(algorithm)) {
      const std::string ours = prefix + "ours-" + SectorPathName(path);
      const bool fast = path != SectorPath::kPortable;
      const char* goal = !fast                       ? "(baseline)"
                         : AlgorithmIsAes(algorithm) ? "speed >= 3x"
                                                     : "speed >= 0.8x";
      Line("sectors " + name + ", " + SectorPathName(path), ours, prefix + "openssl", false, goal,
           g_features[ours]);
    }
    if (AlgorithmIsAes(algorithm) && UseVaes()) {
      Line("sectors " + name + ", VAES vs AES-NI", prefix + "ours-vaes", prefix + "ours-aes-ni",
           false, "speed >= 1.3x", g_features[prefix + "ours-vaes"]);
    }
    // Reading a volume decrypts: never slower than writing it, on any path.
    for (SectorPath path : SectorPaths(algorithm)) {
      const std::string ours = prefix + "ours-" + SectorPathName(path);
      Line("decrypt " + name + ", " + SectorPathName(path),
           "sectors-decrypt/" + name + "/ours-" + SectorPathName(path), ours, false, "speed >= 1x",
           g_features[ours]);
    }
  }
  for (int algorithm : kAlgorithms) {
    if (AlgorithmIsAes(algorithm)) continue;
    const std::string name = AlgorithmName(algorithm);
    const std::string creation = "create-without-disk/" + name;
    Line("create " + name + " without disk", creation, "sectors/" + name + "/ours-fast", false,
         "speed >= 1.7x", CreationFeatures(algorithm));
    const Figure created = FigureOf(creation), oneCore = FigureOf("sectors/" + name + "/ours-fast");
    if (created.present && oneCore.present && !g_coresBusy[creation].empty()) {
      // Speed per core that the creation had, against one core's: below 1
      // when the threads cost more than the sectors they encrypt.
      const double cores = Median(g_coresBusy[creation]);
      const double perCore = (g_bytes[creation] / created.median / cores) /
                             (g_bytes["sectors/" + name + "/ours-fast"] / oneCore.median);
      printf("%-34s against one core's sector speed; the creation had %.2f of %u cores,\n", "",
             cores, std::thread::hardware_concurrency());
      printf("%-34s %.2fx one core's speed for each core it had\n", "", perCore);
    }
  }
  for (int algorithm : kAlgorithms) CreateLine(algorithm);
}

void Register() {
  const int repetitions = EnvironmentNumber("VM_BENCH_REPETITIONS", 5);
  auto crypto = [&](benchmark::internal::Benchmark* b) {
    b->Repetitions(repetitions)->MinTime(0.2)->Unit(benchmark::kMillisecond);
  };
  for (bool fast : {true, false}) {
    crypto(benchmark::RegisterBenchmark((std::string("pbkdf2/ours-") + PathName(fast)).c_str(),
                                        Pbkdf2Ours, fast));
  }
  crypto(benchmark::RegisterBenchmark("pbkdf2/openssl", Pbkdf2OpenSsl));
  for (bool fast : {true, false}) {
    crypto(benchmark::RegisterBenchmark(
        (std::string("open-header-wrong/ours-") + PathName(fast)).c_str(), OpenHeaderWrongPassword,
        fast));
  }
  for (int algorithm : kAlgorithms) {
    const std::string prefix = std::string("sectors/") + AlgorithmName(algorithm) + "/";
    for (SectorPath path : SectorPaths(algorithm)) {
      const std::string name = prefix + "ours-" + SectorPathName(path);
      g_features[name] = FeaturesOf(algorithm, path);
      crypto(benchmark::RegisterBenchmark(name.c_str(), SectorsOurs, algorithm, path, false));
      const std::string decrypt = std::string("sectors-decrypt/") + AlgorithmName(algorithm) +
                                  "/ours-" + SectorPathName(path);
      crypto(benchmark::RegisterBenchmark(decrypt.c_str(), SectorsOurs, algorithm, path, true));
    }
    crypto(benchmark::RegisterBenchmark((prefix + "openssl").c_str(), SectorsOpenSsl, algorithm));
  }
  auto create = [&](benchmark::internal::Benchmark* b) {
    b->Repetitions(repetitions)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
  };
  for (int algorithm : kAlgorithms) {
    if (AlgorithmIsAes(algorithm)) continue;
    create(benchmark::RegisterBenchmark(
        (std::string("create-without-disk/") + AlgorithmName(algorithm)).c_str(), CreateWithoutDisk,
        algorithm));
  }
  for (int algorithm : kAlgorithms) {
    create(benchmark::RegisterBenchmark((std::string("create/") + AlgorithmName(algorithm)).c_str(),
                                        CreateOurs, algorithm));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  const bool aesMatches = AesMatchesOpenSsl();
  Register();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(aesMatches);
  benchmark::Shutdown();
  return aesMatches ? 0 : 1;
}
