#include "tools/temp_password.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace cubesec {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr unsigned kAlphabetSize = sizeof kAlphabet - 1;
// Bytes at or above this limit are dropped so that every character is equally likely.
constexpr unsigned kByteLimit = 256 - 256 % kAlphabetSize;
constexpr size_t kMinLength = 16;

}  // namespace

std::string MakeTempPassword(Platform& platform, int min_length) {
  size_t length = std::max<size_t>(kMinLength, min_length > 0 ? size_t(min_length) : 0);
  std::string password = kTempPasswordPrefix;
  uint8_t bytes[64];
  while (password.size() < length) {
    if (!platform.SecureRandom(bytes, sizeof bytes)) {
      throw std::runtime_error("No secure random source for a temporary password.");
    }
    for (uint8_t byte : bytes) {
      if (password.size() >= length) break;
      if (byte >= kByteLimit) continue;
      password.push_back(kAlphabet[byte % kAlphabetSize]);
    }
  }
  return password;
}

}  // namespace cubesec
