#pragma once
// A dump file read into memory as its blocks, each with the place it stands under, and the
// parts of a file that a restore, a plan or a diff can be limited to (--only). The diff
// compares two such models; the limited restore decides block by block with them.

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "client/dump_format.h"
#include "restore/restore_state.h"
#include "tools/files.h"

namespace cubesec {

struct DumpBlock {
  std::string kind;            // the head key: "Server", "Group", "User", "Application", ...
  std::string name;            // the head value; of a user, the name without its markers
  UserMarkers markers;         // a user's head line markers
  std::string app;             // the application that the block stands under (its own, for one)
  std::string db;              // the database that a filter or access block stands under
  std::vector<KeyLine> lines;  // the detail lines, in file order
  int line = 0;                // the head line's number, counted from 1

  /// The value of the first line of `key`; nullptr when the block has none.
  const std::string* Value(std::string_view key) const;
  /// True for "User Access", "Group Access" and "User/Group" blocks.
  bool IsAccess() const;
};

struct DumpModel {
  std::vector<DumpBlock> blocks;  // one per head line, in file order
  int format = 1;                 // of the file's "Format" line; 1 without one
  // An older file's group and user names (lower-cased) and the most commas one holds: its
  // lists are split between names only where no such name is cut, as a restore reads them.
  std::set<std::string> head_names;
  size_t head_name_most_commas = 0;

  /// The names of list value `value` of a "Groups", "Users" or "Calcs" line, read as a
  /// restore reads them in this file's format.
  std::vector<std::string> Names(std::string_view key, std::string_view value) const;
};

/// Reads a dump file's text into its blocks, as a restore splits it: a head line opens a
/// block, its detail lines follow; lines outside any block are passed over. Names are read
/// as the file's format writes them (quoted in the current format).
DumpModel ReadDumpModel(std::string_view text);

/// One --only part: "app=NAME", "db=APP:DB", "user=NAME", "group=NAME" or "server".
struct DumpPart {
  enum class Kind { kServer, kApplication, kDatabase, kUser, kGroup };
  Kind kind = Kind::kServer;
  std::string app, db, name;
  std::string text;  // as given on the command line

  /// Whether the part takes `block`: an application or database part its state blocks, its
  /// filters and its access blocks; a user or group part its block and its access blocks
  /// everywhere; the server part the Server block. Names compare without regard to case.
  bool Takes(const DumpBlock& block) const;
};

/// The part that `text` names; nullopt (with `error`) when it names no kind of part.
std::optional<DumpPart> ParseDumpPart(std::string_view text, std::string* error);

struct PartSelection {
  std::vector<BlockUse> uses;    // one per block of the model
  std::set<std::string> groups;  // the group parts' names, lower-cased
};

/// Decides every block of `model` for `parts`.
PartSelection SelectParts(const DumpModel& model, const std::vector<DumpPart>& parts);

/// The parts of `parts` that take no block of `model`, as given.
std::vector<std::string> PartsNamingNothing(const DumpModel& model,
                                            const std::vector<DumpPart>& parts);

}  // namespace cubesec
