// `velmorcrypt-cli benchmark`: how long one mount's key derivation takes and
// how fast the body's sectors are encrypted and decrypted on this machine,
// for each algorithm, so that a user can choose before creating a volume.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct AlgorithmBenchmark {
  int algorithm = 0;            // AlgorithmId
  double openMilliseconds = 0;  // opening a header sealed with this algorithm
  double encryptMbPerSecond = 0;
  double decryptMbPerSecond = 0;
};

// Measures every algorithm for about `secondsPerMeasure` per speed figure.
std::vector<AlgorithmBenchmark> MeasureAlgorithms(double secondsPerMeasure);

// The processor features that the cryptography uses on this machine, e.g.
// "AES-NI, SHA extensions", or "none (portable code)".
std::string CryptoFeaturesInUse();

// Prints the table of `results` and the features line.
void PrintBenchmark(FILE* out, const std::vector<AlgorithmBenchmark>& results);
