#pragma once
// Passwords are kept as salted SHA-256 digests, never as they were given, so that a server
// file that is copied or exported gives none away.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace cubesec::sim {

/// The SHA-256 digest of `data`.
std::array<uint8_t, 32> Sha256(std::string_view data);

/// "sha256:<salt hex>:<digest hex>" for `password` with a fresh random salt.
std::string HashPassword(std::string_view password);

/// The same with a given salt (for tests and for reproducible output).
std::string HashPasswordWithSalt(std::string_view password, std::string_view salt);

/// True when `password` matches a value made by HashPassword.
bool PasswordMatches(std::string_view password, std::string_view stored);

}  // namespace cubesec::sim
