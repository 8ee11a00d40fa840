#pragma once
// The JSON fixture format of a simulated server, read and written. Export writes every key
// but passwords; reading rejects unknown keys, wrong types and dangling names, naming the
// place of the first problem ("users[3].groups[1]: group \"X\" does not exist").

#include <optional>
#include <string>

#include "sim/server_image.h"

namespace cubesec::sim {

/// The image that `json_text` describes; nullopt with `error` set on the first problem.
std::optional<ServerImage> ParseFixture(const std::string& json_text, std::string* error);

/// The fixture of `image`, indented by two blanks, ending with a line feed.
std::string FixtureJson(const ServerImage& image);

}  // namespace cubesec::sim
