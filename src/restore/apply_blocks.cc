// The dispatch of a dump file's blocks to their restore routines, in file order.
#include "client/dump_format.h"
#include "restore/name_lists.h"
#include "restore/restore.h"
#include "restore/restore_support.h"
#include "tools/text.h"

namespace cubesec {
namespace {

// Window events are let through every so many lines that the restore loop reads itself.
constexpr int kLinesPerEventPump = 64;

// Passes over a block outside the parts; what stands under a passed-over application or
// database is passed over with it.
void PassOver(RunState& state, RestoreState& restore, const std::string& line) {
  const KeyLine head = SplitKeyLine(line);
  if (head.key == "Application") {
    restore.current_app.clear();
    restore.current_db.clear();
  } else if (head.key == "Database") {
    restore.current_db.clear();
  }
  SkipRestOfBlock(state);
}

}  // namespace

void DispatchLine(RunState& state, RestoreState& restore, const std::string& line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t') return;
  const KeyLine head = SplitKeyLine(line);
  const BlockSpec* spec = SpecOfHead(head.key);
  if (!spec) return;
  switch (spec->kind) {
    case BlockKind::kServer:
      return RestoreServerState(state, restore);
    case BlockKind::kUser:
      return RestoreUser(state, restore, head.value);
    case BlockKind::kGroup:
      return RestoreGroup(state, restore, HeadName(restore.file, head.value));
    case BlockKind::kApplication:
      return RestoreApplication(state, restore, HeadName(restore.file, head.value));
    case BlockKind::kDatabase:
      return RestoreDatabase(state, restore, HeadName(restore.file, head.value));
    case BlockKind::kFilter:
      return RestoreFilter(state, restore, HeadName(restore.file, head.value));
    case BlockKind::kGroupAccess:
    case BlockKind::kUserAccess:
      return RestoreAccess(state, restore, HeadName(restore.file, head.value));
    case BlockKind::kEnd:
      return;
  }
}

int CountBlocks(std::string_view text) {
  const std::unique_ptr<LineReader> reader = LineReader::OfText(std::string(text));
  int blocks = 0;
  std::string line;
  while (reader->ReadLine(line)) blocks += IsHeadLine(line) ? 1 : 0;
  return blocks;
}

void StopCancelledRestore(const RestoreFileState& file) {
  throw RunError(kErrorInterrupted, FormatMsg("Restore cancelled after block %1 of %2",
                                              {std::to_string(file.blocks_applied),
                                               std::to_string(file.block_total)}));
}

void BetweenBlocks(RunState& state, RestoreFileState& file, std::string_view head_line) {
  if (!state.observer) return;  // a session of several: the run's thread speaks for it
  if (state.observer->CancelRequested()) StopCancelledRestore(file);
  state.ReportProgress("blocks", file.blocks_applied + 1, file.block_total,
                       SplitKeyLine(head_line).key);
}

void ApplyBlocks(RunState& state, RestoreState& restore, LimitedBlocks* limited) {
  std::string line;
  for (int lines = 1; ReadRestoreLine(state, restore.file, line); ++lines) {
    const bool head = IsHeadLine(line);
    if (head) BetweenBlocks(state, restore.file, line);
    if (limited && head) {
      const std::vector<BlockUse>& uses = limited->selection.uses;
      const BlockUse use = limited->next < uses.size() ? uses[limited->next++] : BlockUse::kSkip;
      if (use == BlockUse::kSkip) {
        PassOver(state, restore, line);
      } else {
        restore.block_use = use;
        DispatchLine(state, restore, line);
        restore.block_use = BlockUse::kAll;
      }
    } else {
      DispatchLine(state, restore, line);
    }
    if (head && state.observer) ++restore.file.blocks_applied;
    // A session of several has no window of its own: the run's thread lets it through.
    if (state.observer && lines % kLinesPerEventPump == 0) state.observer->PumpEvents();
  }
}

}  // namespace cubesec
