#pragma once
// Passwords are kept as salted PBKDF2-HMAC-SHA256 keys, never as they were given, so that a
// server file that is copied or exported gives none away and costs whoever tries to guess
// them the server's iteration count per guess. The keys, digests, salts and comparisons
// come from the platform (the system's crypto library and random source).
//
// A value names its algorithm and count, "pbkdf2-sha256:4096:<salt hex>:<key hex>", so that
// another count or algorithm can be read beside it. Servers written before this form keep
// "sha256:<salt>:<digest hex>", one SHA-256 of "<salt>:<password>": such a value still
// verifies, and the login replaces it (see NeedsNewHash).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/platform.h"

namespace cubesec::sim {

/// The iteration count of a server that sets none: PostgreSQL's for SCRAM-SHA-256.
inline constexpr uint32_t kDefaultPasswordIterations = 4096;
/// The highest count a server may set: one key then takes seconds already.
inline constexpr uint32_t kMaxPasswordIterations = 10'000'000;

/// Why HashPassword gave nothing.
inline constexpr const char* kPasswordKeyFailure =
    "the system's random source or its crypto library failed";

/// True when `iterations` can be a server's count: 1 to kMaxPasswordIterations.
bool IsValidPasswordIterations(int64_t iterations);
/// Why a count that IsValidPasswordIterations refuses cannot be one.
std::string PasswordIterationsRange();

/// The kept form of `password` with a fresh random 16-byte salt; nullopt when the platform
/// has no random source or its library refuses.
std::optional<std::string> HashPassword(Platform& platform, std::string_view password,
                                        uint32_t iterations);

/// The same with a given salt (its bytes), for tests and reproducible output.
std::optional<std::string> HashPasswordWithSalt(Platform& platform, std::string_view password,
                                                std::string_view salt, uint32_t iterations);

/// True when `password` matches the kept value `stored`, of either form.
bool PasswordMatches(Platform& platform, std::string_view password, std::string_view stored);

/// True when `stored` is not what HashPassword makes with `iterations`: an older form, or
/// another count. A login that matched it keeps the password anew.
bool NeedsNewHash(std::string_view stored, uint32_t iterations);

}  // namespace cubesec::sim
