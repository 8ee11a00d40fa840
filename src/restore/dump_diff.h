#pragma once
// The security diff: two dump models compared object by object, not line by line, so that a
// name written in another case, a list in another order or a new dump date is no difference.

#include <string>
#include <vector>

#include "restore/dump_model.h"

namespace cubesec {

struct DiffOptions {
  /// Compare what changes without anyone changing security too: Date Made, Last Login, the
  /// Inactive marker, the Format line, the server's name and filter validity notices.
  bool all = false;
  /// Only the blocks that one of these parts takes; every block when empty.
  std::vector<DumpPart> parts;
};

/// One line per difference, grouped by object in the dump file's order: "+ " for an object
/// only in `after`, "- " for one only in `before`, "~ " for a value that differs
/// ("~ User: bob: Access: Read -> Write", "~ User: carol: Groups: + Analysts").
std::vector<std::string> DiffDumps(const DumpModel& before, const DumpModel& after,
                                   const DiffOptions& options);

}  // namespace cubesec
