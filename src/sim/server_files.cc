// The servers of a folder: one SQLite file each, and the operations of the cubesec-sim tool.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "client/access_levels.h"
#include "sim/fixture_json.h"
#include "sim/generator.h"
#include "sim/names.h"
#include "sim/sim_api.h"
#include "sim/store.h"
#include "tools/platform.h"

namespace cubesec::sim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSuffix = ".sqlite";

std::string BadName(const std::string& name) {
  return "invalid server name \"" + name +
         "\" (letters, digits, '.', '_' and '-', not beginning with '.')";
}

std::string EnsureFolder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) return "cannot create the folder " + folder + ": " + error.message();
  return {};
}

// Opens an existing server; the reason in `error` when it cannot be.
std::unique_ptr<Store> OpenExisting(const std::string& folder, const std::string& name,
                                    std::string* error) {
  if (!IsValidServerName(name)) {
    *error = BadName(name);
    return nullptr;
  }
  std::string path = ServerPath(folder, name);
  std::error_code ignored;
  if (!fs::is_regular_file(path, ignored)) {
    *error = "server \"" + name + "\" does not exist (no file " + path + ")";
    return nullptr;
  }
  try {
    return Store::OpenFile(path, false);
  } catch (const SqliteError& e) {
    *error = "cannot open " + path + ": " + e.what();
    return nullptr;
  }
}

// Writes the image into the server's file, creating it when needed.
std::string WriteImage(const std::string& folder, const std::string& name,
                       const ServerImage& image) {
  if (std::string error = EnsureFolder(folder); !error.empty()) return error;
  std::string path = ServerPath(folder, name);
  std::error_code ignored;
  if (!fs::exists(path, ignored)) {
    // The file holds password digests: readable by its owner only. SQLite gives its journal
    // files the rights of the database file, so they are set before it first opens it.
    std::ofstream(path, std::ios::binary).close();
    std::string why;
    if (!SystemPlatform().MakeOwnerOnly(path, &why)) {
      return "cannot make " + path + " readable by its owner only: " + why;
    }
  }
  try {
    std::unique_ptr<Store> store = Store::OpenFile(path, true);
    store->Replace(image);
  } catch (const SqliteError& e) {
    return "cannot write " + path + ": " + e.what();
  }
  return {};
}

}  // namespace

bool IsValidServerName(const std::string& name) {
  if (name.empty() || name.size() > 100 || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
  });
}

std::string ServerPath(const std::string& folder, const std::string& name) {
  return (fs::path(folder) / (FoldCase(name) + kSuffix)).string();
}

std::string LoadFixture(const std::string& folder, const std::string& name,
                        const std::string& fixture_json,
                        std::optional<uint32_t> password_iterations) {
  if (!IsValidServerName(name)) return BadName(name);
  std::string error;
  std::optional<ServerImage> image = ParseFixture(fixture_json, &error);
  if (!image) return error;
  if (password_iterations) {
    if (!IsValidPasswordIterations(*password_iterations)) return PasswordIterationsRange();
    image->password_iterations = *password_iterations;
  }
  return WriteImage(folder, name, *image);
}

std::string ExportServer(const std::string& folder, const std::string& name, std::string* json) {
  std::string error;
  std::unique_ptr<Store> store = OpenExisting(folder, name, &error);
  if (!store) return error;
  try {
    *json = FixtureJson(store->Export());
  } catch (const SqliteError& e) {
    return "cannot read server \"" + name + "\": " + e.what();
  }
  return {};
}

std::string InitServer(const std::string& folder, const std::string& name, const std::string& admin,
                       const std::string& password, uint32_t password_iterations) {
  if (!IsValidServerName(name)) return BadName(name);
  std::error_code ignored;
  if (fs::exists(ServerPath(folder, name), ignored)) {
    return "server \"" + name + "\" already exists; delete it first or use load";
  }
  ServerImage image;
  image.password_iterations = password_iterations;
  image.global.security = true;
  image.global.logins = true;
  ImageUser user;
  user.name = admin;
  user.password = password;
  user.access = kAccessSupervisor;
  user.supervisor = true;
  image.users.push_back(std::move(user));
  if (std::string problem = ValidateImage(image); !problem.empty()) return problem;
  return WriteImage(folder, name, image);
}

std::string ListServers(const std::string& folder, std::vector<ServerSummary>* servers) {
  servers->clear();
  std::error_code error;
  if (!fs::is_directory(folder, error)) return {};
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    fs::path path = entry.path();
    if (path.extension() != kSuffix || !entry.is_regular_file()) continue;
    ServerSummary summary;
    summary.name = path.stem().string();
    try {
      StoreCounts counts = Store::OpenFile(path.string(), false)->Count();
      summary.users = counts.users;
      summary.groups = counts.groups;
      summary.applications = counts.applications;
      summary.databases = counts.databases;
      summary.filters = counts.filters;
    } catch (const SqliteError& e) {
      return "cannot read " + path.string() + ": " + e.what();
    }
    servers->push_back(std::move(summary));
  }
  if (error) return "cannot list " + folder + ": " + error.message();
  std::sort(servers->begin(), servers->end(),
            [](const ServerSummary& a, const ServerSummary& b) { return a.name < b.name; });
  return {};
}

std::string DeleteServer(const std::string& folder, const std::string& name) {
  if (!IsValidServerName(name)) return BadName(name);
  std::string path = ServerPath(folder, name);
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return "server \"" + name + "\" does not exist";
  for (const char* extra : {"-wal", "-shm", "-journal"}) fs::remove(path + extra, error);
  if (!fs::remove(path, error) || error) return "cannot delete " + path + ": " + error.message();
  return {};
}

std::string GenerateServer(Platform& platform, const std::string& folder, const std::string& name,
                           int scale, std::string* admin_password, uint32_t password_iterations) {
  if (!IsValidServerName(name)) return BadName(name);
  if (scale < 1 || scale > 1000) return "the scale must be a whole number from 1 to 1000";
  static constexpr char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  constexpr size_t kLetters = sizeof kAlphabet - 1;
  // Only bytes below a whole multiple of the alphabet's size count, so that every letter is
  // as likely as any other.
  constexpr unsigned kFairBelow = 256 / kLetters * kLetters;
  std::string password;
  while (password.size() < 16) {
    unsigned char bytes[16];
    if (!platform.SecureRandom(bytes, sizeof bytes)) return "the system's random source failed";
    for (unsigned char byte : bytes) {
      if (byte < kFairBelow && password.size() < 16) password += kAlphabet[byte % kLetters];
    }
  }
  if (!IsValidPasswordIterations(password_iterations)) return PasswordIterationsRange();
  ServerImage image = GenerateImage(scale, password);
  image.password_iterations = password_iterations;
  std::string error = WriteImage(folder, name, image);
  if (error.empty()) *admin_password = password;
  return error;
}

}  // namespace cubesec::sim
