#pragma once
// A synthetic server for benchmarks and large tests: about 1000 users, 100 groups and 5
// filters per database for each unit of scale, over 10 applications of 2 databases.

#include <string>

#include "sim/server_image.h"

namespace cubesec::sim {

/// Which of the fixed edge cases a generated server holds: those that a dump and a restore
/// carry over exactly, or all of them.
enum class GeneratedShapes { kCarried, kAll };

/// The same image for the same scale (passwords aside): every user is in 3 groups, every
/// group and every second user has access to every database, with filters and calc lists
/// where the access allows. Its supervisor is `admin` with `admin_password`.
ServerImage GenerateImage(int scale, const std::string& admin_password,
                          GeneratedShapes shapes = GeneratedShapes::kCarried);

}  // namespace cubesec::sim
