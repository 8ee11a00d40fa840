#pragma once
// Reading a server-side list of names, as every block writer does: fetch each item, take its
// name out of the fixed field, and sort.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "client/run_state.h"

namespace cubesec {

/// The name that an item of `item_type` carries (the database for kItemAppDb, the user or
/// group for kItemUserApp and kItemUserDb), cut at NUL and trimmed.
std::string ItemName(const EsbItem& item, uint16_t item_type);

/// Fetches `count` items of `item_type` from the context's list, each fetch checked under
/// `report`, and returns their names sorted. A fetch that fails without raising (the
/// library gave no message number) yields no name, so an empty name never reaches a block.
std::vector<std::string> FetchNames(RunState& state, uint32_t count, uint16_t item_type,
                                    std::string_view report);

/// `name`, read from the server, when a dump line can carry it. A name holding a line break
/// or another control character (which a server should refuse) would break the file apart,
/// so it ends the dump with error 61, naming it.
const std::string& CarriedName(const std::string& name);

/// A description or filter row ready for its line: each control character but TAB becomes
/// one blank, so that no value can start a line of its own. A changed value is logged,
/// naming `what` ("the description of application 'Sample'").
std::string CarriedText(RunState& state, const std::string& text, const std::string& what);

/// Writes one line made from `tmpl` with its "%1" filled by `value`.
void WriteLine(RunState& state, std::string_view tmpl, const std::string& value);

}  // namespace cubesec
