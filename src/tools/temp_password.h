#pragma once
// Temporary passwords for users that a restore creates.

#include <string>

#include "tools/platform.h"

namespace cubesec {

/// The fixed prefix of every temporary password.
inline constexpr const char kTempPasswordPrefix[] = "TP";

/// The prefix followed by random letters and digits from the OS's secure random source;
/// at least 16 characters and never fewer than `min_length`. Throws std::runtime_error
/// when the OS has no random source.
std::string MakeTempPassword(Platform& platform, int min_length);

}  // namespace cubesec
