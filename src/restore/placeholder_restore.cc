// Temporary bodies until the restore routines land; every one refuses to run.
#include "restore/restore.h"

namespace cubesec {
namespace {
[[noreturn]] void NotBuilt() { throw RunError(99, "restore is not built yet"); }
}  // namespace
void RestoreServerState(RunState&) { NotBuilt(); }
void RestoreGroup(RunState&, const std::string&) { NotBuilt(); }
void RestoreUser(RunState&, const std::string&) { NotBuilt(); }
void RestoreApplication(RunState&, const std::string&) { NotBuilt(); }
void RestoreDatabase(RunState&, const std::string&) { NotBuilt(); }
void RestoreFilter(RunState&, const std::string&) { NotBuilt(); }
void RestoreAccess(RunState&, const std::string&) { NotBuilt(); }
bool ResetSecurity(RunState&) { NotBuilt(); }
}  // namespace cubesec
