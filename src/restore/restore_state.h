#pragma once
// The restore's own state, beside the RunState that every run shares. A restore keeps two
// kinds of knowledge: what holds across the whole file (the file's format and head names,
// what its server, group and user blocks did, the application access the run has set),
// and what belongs to the place being restored (the application and database whose blocks
// are being read, the filters of that database, the counts). Several sessions restoring
// users or databases at once share the first and each keep their own of the second.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "client/esb_api.h"
#include "client/run_state.h"
#include "restore/turns.h"

namespace cubesec {

/// What a restore limited to parts (--only) does with one block of the file.
enum class BlockUse {
  kSkip,         // read and passed over
  kAll,          // applied whole
  kPlace,        // an application or database only opened for the blocks under it
  kCreate,       // a user or group that the parts' filters or access name: created when
                 // missing, left as it is when present
  kMemberships,  // a user block of a group part: only its memberships of the part's groups
};

/// What a restore did, for the summary at its end.
struct RestoreCounts {
  int groups_created = 0;
  int users_created = 0;
  int filters_restored = 0;
  int values_changed = 0;  // access, memberships, states and assignments applied
  int blocks_skipped = 0;

  RestoreCounts& operator+=(const RestoreCounts& other);
};

/// Lower-cased names that sessions working at once add to and ask about.
class NameSet {
 public:
  void Insert(std::string_view name);
  bool Contains(std::string_view name) const;
  std::set<std::string> Names() const;

 private:
  mutable std::mutex mutex_;
  std::set<std::string> names_;
};

/// The keys of the turns (Turns) that sessions restoring at once take: the creation of users,
/// the new members of a group, and the application access of NameKey(application, name).
std::string CreationTurn();
std::string MembershipTurn(std::string_view group);
std::string ApplicationAccessTurn(std::string_view name_key);

/// What the restore of one dump file knows across all its blocks. The server and group
/// blocks fill it in the run's own session; the user blocks, restored by several sessions at
/// once, add names to its name sets; once the databases' blocks are read it only changes
/// through RaiseApplicationAccess.
class RestoreFileState {
 public:
  // The format of the dump file (kDumpFormat, or 1 for a file without "Format:").
  int dump_format = 1;
  // The group and user names of the head lines read so far (lower-cased); an older file's
  // list value is split between names only where no such name would be cut.
  std::set<std::string> head_names;
  size_t head_name_most_commas = 0;  // the most commas in one of head_names
  // Restore limited to parts (--only): the group parts' names (lower-cased), the only groups
  // that a kMemberships user block adds its user to.
  std::set<std::string> part_groups;
  // Restore onto another server: the names (lower-cased) whose user or group block was
  // skipped because the target holds that name as the other kind, so that nothing of the
  // dump's object reaches the target's one.
  NameSet other_kind_names;
  // The users and groups (lower-cased) that this run created. A name the run created holds
  // nothing on the target but what the run gave it, so neither its memberships nor its
  // filters need to be read back.
  NameSet created_names;
  // The target's minimum password length, read when a restore first creates a user (under
  // its lock: the first of several sessions reads it for all) and kept up to date by the
  // server state restore; -1 while unknown.
  int min_password_length = -1;
  std::mutex min_password_length_mutex;
  // The turns of the units of sessions restoring at once.
  Turns turns;
  // The file's blocks (its head lines), known once the check has read it, 0 while unknown;
  // and the blocks applied whole so far, counted on the run's own thread, for the progress
  // and for where a cancelled restore stopped.
  int block_total = 0;
  int blocks_applied = 0;

  /// Notes the name of a Group or User head line of an older file, whose lists are split by
  /// the names its head lines define.
  void NoteHeadLine(std::string_view line);

  /// Sets application access `wanted` for the name and application of `key` through `send`,
  /// unless this run has already set as much or more: a later database never lowers it.
  /// With sessions working at once, the unit numbered `unit` (in file order) takes its turn
  /// at ApplicationAccessTurn(key), so each unit decides and calls as it would in one session.
  EsbStatus RaiseApplicationAccess(const std::string& key, uint16_t wanted,
                                   const std::function<EsbStatus()>& send, long unit = -1);

 private:
  std::mutex mutex_;
  // The highest application access this run has set, by NameKey(application, name).
  std::map<std::string, uint16_t> app_access_set_;
};

/// The restore of one place of the file: the blocks of a whole restore read in one session,
/// or one application's or database's blocks read by a session of several.
struct RestoreState {
  explicit RestoreState(RestoreFileState& file_in) : file(file_in) {}

  RestoreFileState& file;
  // The application and database whose sections came last and exist on the target (empty
  // when skipped), the filters that were not restored, and the filters that the file
  // defines so far, on the database of their block (restored or not).
  std::string current_app;
  std::string current_db;
  std::set<std::string> skipped_filters;  // keys of FilterKey()
  std::set<std::string> file_filters;     // keys of FilterKey()
  // The filter this run assigned to a name on a database, by FilterKey(application,
  // database, name).
  std::map<std::string, std::string> filters_assigned;
  // Restore limited to parts (--only): how much of the block being read its routine applies
  // (kAll in an unlimited restore).
  BlockUse block_use = BlockUse::kAll;
  RestoreCounts restored;
  // The number of the unit being restored by a session of several, in file order; -1 in a
  // restore of one session.
  long unit = -1;
  // The users created with their temporary passwords, by name: a unit whose log lines never
  // reach the run log (a unit before it failed) still has them named.
  std::vector<std::pair<std::string, std::string>> users_created;

  /// The key of a filter in skipped_filters: names compare without regard to case.
  static std::string FilterKey(std::string_view app, std::string_view db, std::string_view filter);
  /// The key of a name within an application: names compare without regard to case.
  static std::string NameKey(std::string_view app, std::string_view name);
};

/// Reads the next line of the dump file being restored (RunState::ReadDumpLine); a group's
/// or user's head line of an older file adds its name to the file state's head names.
bool ReadRestoreLine(RunState& state, RestoreFileState& file, std::string& line);

}  // namespace cubesec
