#pragma once
// The whole content of one simulated server as plain values: what a fixture describes, what
// an export writes and what the generator builds. Vector order is creation order.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "client/esb_api.h"
#include "sim/password_hash.h"

namespace cubesec::sim {

struct ImageGlobal {
  uint32_t api_version = kEsbApiVersion;
  bool security = false;
  bool logins = false;
  uint16_t default_access = 0;
  int16_t validity = 0;
  int16_t reserved = 0;
  int16_t min_length = 0;
  int32_t timeout = 0;
  int32_t check_frequency = 0;
};

struct ImageGroup {
  std::string name;
  uint16_t access = 0;
  bool supervisor = false;
};

struct ImageUser {
  std::string name;
  std::optional<std::string> password;  // none: nobody can log in as this user
  uint16_t access = 0;
  bool supervisor = false;
  bool disabled = false;
  bool password_expired = false;
  int32_t last_login = 0;
  std::vector<std::string> groups;
};

struct ImageFilterRow {
  uint16_t access = 0;
  std::string text;
};

struct ImageFilter {
  std::string name;
  bool active = false;
  uint16_t default_access = 0;
  std::vector<ImageFilterRow> rows;
};

struct ImageDbAccess {
  std::string name;  // user or group
  uint16_t access = 0;
  std::string filter;  // empty: none
  bool all_calcs = false;
  std::vector<std::string> calcs;
};

struct ImageDatabase {
  std::string name;
  std::string description;
  bool loadable = false;
  bool autoload = false;
  uint16_t default_access = 0;
  std::vector<std::string> members;
  std::vector<std::string> calc_scripts;
  std::vector<ImageFilter> filters;
  std::vector<ImageDbAccess> access;
};

struct ImageAppAccess {
  std::string name;  // user or group
  uint16_t access = 0;
};

struct ImageApplication {
  std::string name;
  std::string description;
  bool loadable = false;
  bool autoload = false;
  uint16_t default_access = 0;
  bool connects = false;
  bool commands = false;
  bool updates = false;
  int32_t lock_timeout = 0;
  int32_t lro_size = 0;
  bool security = false;
  std::vector<ImageAppAccess> access;
  std::vector<ImageDatabase> databases;
};

struct ServerImage {
  ImageGlobal global;
  /// The PBKDF2 iteration count with which the server keeps passwords.
  uint32_t password_iterations = kDefaultPasswordIterations;
  std::vector<ImageGroup> groups;
  std::vector<ImageUser> users;
  std::vector<ImageApplication> applications;
};

/// Checks names and cross references: valid and unique names (users and groups share one
/// namespace, all without regard to case), groups of users, access holders, filters and
/// calc scripts named by access entries. Returns the first problem as
/// "users[3].groups[1]: group \"X\" does not exist", or an empty text when there is none.
std::string ValidateImage(const ServerImage& image);

/// Gives every name with database access above None at least application access 256 on the
/// database's application, as a server does: access to a database is access to its
/// application. Expects an image that ValidateImage() accepts.
void ImplyApplicationAccess(ServerImage& image);

/// True when `name` can name a user, group, application, database or filter: 1 to 120
/// characters (UTF-8 code points), no control characters, no blank at either end.
bool IsValidObjectName(const std::string& name);

}  // namespace cubesec::sim
