#include "client/run_state.h"

#include "tools/text.h"

namespace cubesec {
namespace {

// Lines between two chances for a window to process its events.
constexpr int kLinesPerPump = 64;

}  // namespace

void RunState::CountLineAndPump() {
  if (++lines_since_pump < kLinesPerPump) return;
  lines_since_pump = 0;
  if (observer) observer->PumpEvents();
}

void RunState::Log(std::string_view line) {
  // The log may hold temporary passwords: only its owner may read it.
  if (!log) log = std::make_unique<LineWriter>(platform, log_path, /*owner_only=*/true);
  if (!log->Append(line)) {
    throw RunError(kErrorFileIo, "Cannot write run log '" + log_path + "': " + log->error());
  }
  CountLineAndPump();
}

void RunState::WriteDumpLine(std::string_view line) {
  if (!dump_out) dump_out = std::make_unique<LineWriter>(platform, dump_file, false);
  if (!dump_out->Append(line)) {
    throw RunError(kErrorFileIo,
                   "Cannot write dump file '" + dump_out->path() + "': " + dump_out->error());
  }
  CountLineAndPump();
}

void RunState::BeginBlock(std::string_view key_word) {
  ++blocks;
  if (observer) observer->OnBlock(key_word, blocks);
}

bool RunState::ReadKeyLine(std::string& key, std::string& value) {
  if (!dump_in) {
    key.clear();
    value.clear();
    return false;
  }
  CountLineAndPump();
  return cubesec::ReadKeyLine(*dump_in, key, value);
}

std::string RunState::FilterKey(std::string_view app, std::string_view db,
                                std::string_view filter) {
  std::string key;
  key.reserve(app.size() + db.size() + filter.size() + 2);
  key.append(app).append("\t").append(db).append("\t").append(filter);
  return ToLower(key);
}

std::string RunState::NameKey(std::string_view app, std::string_view name) {
  std::string key;
  key.reserve(app.size() + name.size() + 1);
  key.append(app).append("\t").append(name);
  return ToLower(key);
}

}  // namespace cubesec
