// ResealHeader on arbitrary 1044-byte buffers with two short passwords.
//
// Input: random seed (Uint32), draws before the random source fails (Byte;
// 2 and more: never), current password, new password (FuzzInput::Password),
// then the header (padded to 1044 bytes with zeros).
//
// What its callers rely on: 0 when the current password does not open the
// header or no random bytes could be had, and then the sealed region is
// still the encrypted one they passed in (they discard the buffer and write
// nothing, and no plaintext is ever left in it); 1 only when the header
// opens, and then the buffer opens with the new password as the same
// algorithm with the same sealed contents (signature, reserved and both body
// keys), while the current password no longer opens it unless it is the new
// one.
#include <stdint.h>
#include <string.h>

#include "fuzz/fuzz_input.h"
#include "fuzz/fuzz_random.h"
#include "volume/header.h"

namespace {

constexpr int kResealDraws = 2;  // salt, headerIv

int Open(const uint8_t source[kHeaderSize], const ExactBytes& password,
         uint8_t opened[kHeaderSize]) {
  memcpy(opened, source, kHeaderSize);
  return OpenHeader(opened, password.data(), password.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  const uint32_t seed = input.Uint32();
  const int drawsBeforeFailure = input.Byte();
  const bool randomFails = drawsBeforeFailure < kResealDraws;
  InstallFuzzRandom(seed, randomFails ? drawsBeforeFailure : -1);
  const ExactBytes currentPassword(input.Password());
  const ExactBytes newPassword(input.Password());
  uint8_t original[kHeaderSize];
  input.Block(original, kHeaderSize);
  ExactBytes header(std::string_view(reinterpret_cast<const char*>(original), kHeaderSize));

  const int result = ResealHeader(header.data(), currentPassword.data(), currentPassword.size(),
                                  newPassword.data(), newPassword.size());

  uint8_t before[kHeaderSize];
  const int algorithm = Open(original, currentPassword, before);
  if (result == 0) {
    FUZZ_CHECK(randomFails || algorithm == kAlgorithmNone);
    FUZZ_CHECK(memcmp(header.data() + kSealedOffset, original + kSealedOffset, kSealedSize) == 0);
    return 0;
  }
  FUZZ_CHECK(result == 1);
  FUZZ_CHECK(!randomFails && algorithm != kAlgorithmNone);
  uint8_t after[kHeaderSize];
  FUZZ_CHECK(Open(header.data(), newPassword, after) == algorithm);
  FUZZ_CHECK(memcmp(before + kSealedOffset, after + kSealedOffset, kSealedSize) == 0);
  if (currentPassword.view() != newPassword.view()) {
    FUZZ_CHECK(Open(header.data(), currentPassword, after) == kAlgorithmNone);
  }
  return 0;
}
