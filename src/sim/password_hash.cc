#include "sim/password_hash.h"

#include <array>
#include <charconv>

namespace cubesec::sim {

namespace {

constexpr std::string_view kPbkdf2Prefix = "pbkdf2-sha256:";
constexpr std::string_view kSha256Prefix = "sha256:";
constexpr size_t kSaltSize = 16;
constexpr size_t kKeySize = 32;

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes that `hex` spells; nullopt when it is empty or is no whole number of hex pairs.
std::optional<std::string> Unhex(std::string_view hex) {
  if (hex.empty() || hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

// The parts of "pbkdf2-sha256:<iterations>:<salt hex>:<key hex>".
struct Pbkdf2Value {
  uint32_t iterations = 0;
  std::string salt;
  std::string key;
};

std::optional<Pbkdf2Value> ParsePbkdf2(std::string_view stored) {
  if (!stored.starts_with(kPbkdf2Prefix)) return std::nullopt;
  std::string_view rest = stored.substr(kPbkdf2Prefix.size());
  const size_t first = rest.find(':');
  const size_t second = first == std::string_view::npos ? first : rest.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view count = rest.substr(0, first);
  int64_t iterations = 0;
  const auto [end, error] = std::from_chars(count.data(), count.data() + count.size(), iterations);
  if (error != std::errc() || end != count.data() + count.size() ||
      !IsValidPasswordIterations(iterations)) {
    return std::nullopt;
  }
  std::optional<std::string> salt = Unhex(rest.substr(first + 1, second - first - 1));
  std::optional<std::string> key = Unhex(rest.substr(second + 1));
  if (!salt || !key || key->size() != kKeySize) return std::nullopt;
  return Pbkdf2Value{static_cast<uint32_t>(iterations), std::move(*salt), std::move(*key)};
}

bool SameBytes(Platform& platform, std::string_view a, std::string_view b) {
  return a.size() == b.size() && platform.EqualInConstantTime(a.data(), b.data(), a.size());
}

// A value of the older form: one SHA-256 of "<salt>:<password>", the salt as it is written.
bool Sha256ValueMatches(Platform& platform, std::string_view password, std::string_view stored) {
  std::string_view rest = stored.substr(kSha256Prefix.size());
  const size_t colon = rest.find(':');
  if (colon == std::string_view::npos) return false;
  std::optional<std::string> expected = Unhex(rest.substr(colon + 1));
  if (!expected || expected->size() != kKeySize) return false;
  std::string input(rest.substr(0, colon));
  input += ':';
  input += password;
  std::array<char, kKeySize> digest{};
  if (!platform.Sha256(input, digest.data())) return false;
  return SameBytes(platform, std::string_view(digest.data(), digest.size()), *expected);
}

}  // namespace

bool IsValidPasswordIterations(int64_t iterations) {
  return iterations >= 1 && iterations <= kMaxPasswordIterations;
}

std::string PasswordIterationsRange() {
  return "the password iteration count must be a whole number from 1 to " +
         std::to_string(kMaxPasswordIterations);
}

std::optional<std::string> HashPasswordWithSalt(Platform& platform, std::string_view password,
                                                std::string_view salt, uint32_t iterations) {
  if (!IsValidPasswordIterations(iterations)) return std::nullopt;
  std::array<char, kKeySize> key{};
  if (!platform.DerivePbkdf2Sha256(password, salt, iterations, key.data(), key.size())) {
    return std::nullopt;
  }
  return std::string(kPbkdf2Prefix) + std::to_string(iterations) + ":" + Hex(salt) + ":" +
         Hex(std::string_view(key.data(), key.size()));
}

std::optional<std::string> HashPassword(Platform& platform, std::string_view password,
                                        uint32_t iterations) {
  std::array<char, kSaltSize> salt{};
  if (!platform.SecureRandom(salt.data(), salt.size())) return std::nullopt;
  return HashPasswordWithSalt(platform, password, std::string_view(salt.data(), salt.size()),
                              iterations);
}

bool PasswordMatches(Platform& platform, std::string_view password, std::string_view stored) {
  if (stored.starts_with(kSha256Prefix)) return Sha256ValueMatches(platform, password, stored);
  std::optional<Pbkdf2Value> value = ParsePbkdf2(stored);
  if (!value) return false;
  std::array<char, kKeySize> key{};
  if (!platform.DerivePbkdf2Sha256(password, value->salt, value->iterations, key.data(),
                                   key.size())) {
    return false;
  }
  return SameBytes(platform, std::string_view(key.data(), key.size()), value->key);
}

bool NeedsNewHash(std::string_view stored, uint32_t iterations) {
  std::optional<Pbkdf2Value> value = ParsePbkdf2(stored);
  return !value || value->iterations != iterations || value->salt.size() != kSaltSize;
}

}  // namespace cubesec::sim
