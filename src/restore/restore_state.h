#pragma once
// The restore's own state, beside the RunState that every run shares. A restore keeps two
// kinds of knowledge: what holds across the whole file (the file's format and head names,
// what its server, group and user blocks did, the application access the run has set),
// and what belongs to the place being restored (the application and database whose blocks
// are being read, the filters of that database, the counts). Several sessions restoring
// databases at once share the first and each keep their own of the second.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>

#include "client/esb_api.h"
#include "client/run_state.h"

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

/// What the restore of one dump file knows across all its blocks. The server, group and user
/// blocks fill it; once the databases' blocks are read it only changes through
/// RaiseApplicationAccess, which sessions working at once may call.
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
  std::set<std::string> other_kind_names;
  // The users and groups (lower-cased) that this run created. A name the run created holds
  // nothing on the target but what the run gave it, so neither its memberships nor its
  // filters need to be read back.
  std::set<std::string> created_names;
  // The target's minimum password length, read when a restore first creates a user and
  // kept up to date by the server state restore; -1 while unknown.
  int min_password_length = -1;
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
  /// after every earlier unit that ExpectApplicationAccess announced for the key, so each
  /// unit decides and calls as it would in one session.
  EsbStatus RaiseApplicationAccess(const std::string& key, uint16_t wanted,
                                   const std::function<EsbStatus()>& send, long unit = -1);
  /// Announces, before sessions start, that unit `unit` may set application access `key`.
  void ExpectApplicationAccess(const std::string& key, long unit);
  /// Unit `unit` has ended, however: it sets no more application access.
  void EndApplicationAccess(long unit);

 private:
  void EndTurn(const std::string& key, long unit);

  std::mutex mutex_;
  std::condition_variable settled_;
  // The highest application access this run has set, by NameKey(application, name).
  std::map<std::string, uint16_t> app_access_set_;
  // The units that may still set each key, and the keys of each unit.
  std::map<std::string, std::set<long>> expected_;
  std::map<long, std::set<std::string>> keys_of_unit_;
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

  /// The key of a filter in skipped_filters: names compare without regard to case.
  static std::string FilterKey(std::string_view app, std::string_view db, std::string_view filter);
  /// The key of a name within an application: names compare without regard to case.
  static std::string NameKey(std::string_view app, std::string_view name);
};

/// Reads the next line of the dump file being restored (RunState::ReadDumpLine); a group's
/// or user's head line of an older file adds its name to the file state's head names.
bool ReadRestoreLine(RunState& state, RestoreFileState& file, std::string& line);

}  // namespace cubesec
