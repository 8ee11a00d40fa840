#include "restore/dump_check.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "tools/files.h"
#include "tools/text.h"

namespace cubesec {
namespace {

enum class Block {
  kNone,
  kUnknown,
  kServer,
  kGroup,
  kUser,
  kApplication,
  kDatabase,
  kFilter,
  kAccess
};

// How a detail line's value must read.
enum class Form { kText, kYesNo, kAccess, kDays, kCharacters, kSeconds, kNotice };

struct KeyRule {
  std::string_view key;
  Form form;
  bool required = false;
};

constexpr KeyRule kServerKeys[] = {
    {"Date Made", Form::kText},  {"Security", Form::kYesNo},
    {"Logins", Form::kYesNo},    {"Default Access", Form::kAccess},
    {"Validity", Form::kDays},   {"MinLength", Form::kCharacters},
    {"TimeOut", Form::kSeconds}, {"Check Frequency", Form::kSeconds},
};
constexpr KeyRule kGroupKeys[] = {
    {"Access", Form::kAccess},
    {"Users", Form::kText},
    {"*** No users in this group ***", Form::kNotice},
};
constexpr KeyRule kUserKeys[] = {
    {"Access", Form::kAccess},
    {"Last Login", Form::kText},
    {"Groups", Form::kText},
    {"* Account Disabled *", Form::kNotice},
};
constexpr KeyRule kApplicationKeys[] = {
    {"Description", Form::kText},      {"Loadable", Form::kYesNo}, {"Autoload", Form::kYesNo},
    {"Default Access", Form::kAccess}, {"Connects", Form::kYesNo}, {"Commands", Form::kYesNo},
    {"Updates", Form::kYesNo},         {"Security", Form::kYesNo},
};
constexpr KeyRule kDatabaseKeys[] = {
    {"Description", Form::kText},
    {"Loadable", Form::kYesNo},
    {"Autoload", Form::kYesNo},
    {"Default Access", Form::kAccess},
};
// Row lines are not listed: their key is an access level or a number.
constexpr KeyRule kFilterKeys[] = {
    {"Active", Form::kYesNo, true},
    {"Default Access", Form::kAccess, true},
    {"Users", Form::kText},
    {"* Filter is not used by any users/groups *", Form::kNotice},
};
// Without its "Access" line an access block would grant None.
constexpr KeyRule kAccessKeys[] = {
    {"Access", Form::kAccess, true},
    {"Max Access", Form::kAccess},
    {"Filter", Form::kText},
    {"Calcs", Form::kText},
};

// The check marks the rules seen in a block as bits of a 32-bit word.
static_assert(std::size(kServerKeys) <= 32 && std::size(kApplicationKeys) <= 32);

struct BlockRules {
  const KeyRule* begin;
  const KeyRule* end;
};

BlockRules RulesOf(Block block) {
  switch (block) {
    case Block::kServer:
      return {std::begin(kServerKeys), std::end(kServerKeys)};
    case Block::kGroup:
      return {std::begin(kGroupKeys), std::end(kGroupKeys)};
    case Block::kUser:
      return {std::begin(kUserKeys), std::end(kUserKeys)};
    case Block::kApplication:
      return {std::begin(kApplicationKeys), std::end(kApplicationKeys)};
    case Block::kDatabase:
      return {std::begin(kDatabaseKeys), std::end(kDatabaseKeys)};
    case Block::kFilter:
      return {std::begin(kFilterKeys), std::end(kFilterKeys)};
    case Block::kAccess:
      return {std::begin(kAccessKeys), std::end(kAccessKeys)};
    default:
      return {nullptr, nullptr};
  }
}

Block BlockOf(std::string_view key) {
  if (key == "Server") return Block::kServer;
  if (key == "Group") return Block::kGroup;
  if (key == "User") return Block::kUser;
  if (key == "Application") return Block::kApplication;
  if (key == "Database") return Block::kDatabase;
  if (key == "Filter") return Block::kFilter;
  return Block::kAccess;  // "Group Access", "User Access", "User/Group"
}

const char* BlockName(Block block) {
  switch (block) {
    case Block::kServer:
      return "Server";
    case Block::kGroup:
      return "Group";
    case Block::kUser:
      return "User";
    case Block::kApplication:
      return "Application";
    case Block::kDatabase:
      return "Database";
    case Block::kFilter:
      return "Filter";
    default:
      return "access";
  }
}

// `text` in double quotes, control characters shown as \xNN, then `after`. The message is
// built in one string of the size it needs: a damaged file can have a problem on every line,
// and a check that allocates for each piece of each message is slow to fuzz.
std::string Quoted(std::string_view text, std::initializer_list<std::string_view> after) {
  size_t size = text.size() + 2;
  for (std::string_view part : after) size += part.size();
  std::string out;
  out.reserve(size);
  out += '"';
  AppendShowingControlCharacters(out, text);
  out += '"';
  for (std::string_view part : after) out += part;
  return out;
}

// A decimal number as the restore reads one ("30", "-2", "2.5"); nullopt for anything else.
std::optional<double> WholeText(std::string_view text) {
  size_t pos = 0;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) ++pos;
  size_t digits = 0, fraction = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++digits;
  if (pos < text.size() && text[pos] == '.') {
    ++pos;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') ++pos, ++fraction;
  }
  if (digits + fraction == 0 || pos != text.size()) return std::nullopt;
  return RoundHalfEven(LeadingNumber(text));
}

// What is wrong with a count value ("45 Days"), or nothing.
std::string CountProblem(std::string_view value, std::string_view unit, int64_t low, int64_t high) {
  std::string_view number = value;
  const size_t blank = value.find(' ');
  if (blank != std::string_view::npos) {
    if (TrimView(value.substr(blank)) != unit) return Quoted(value, {" is not a number of ", unit});
    number = value.substr(0, blank);
  }
  const std::optional<double> whole = WholeText(number);
  if (!whole) return Quoted(value, {" is not a number of ", unit});
  if (*whole < static_cast<double>(low) || *whole > static_cast<double>(high)) {
    return Quoted(value,
                  {" does not fit (", std::to_string(low), " to ", std::to_string(high), ")"});
  }
  return {};
}

std::string ValueProblem(Form form, std::string_view value) {
  switch (form) {
    case Form::kYesNo:
      for (std::string_view word : {"Yes", "No", "True", "False"}) {
        if (EqualsIgnoreCase(value, word)) return {};
      }
      return Quoted(value, {" is neither Yes nor No"});
    case Form::kAccess:
      if (ParseAccessName(value)) return {};
      return Quoted(value, {" is no access level"});
    case Form::kDays:
      return CountProblem(value, "Days", std::numeric_limits<int16_t>::min(),
                          std::numeric_limits<int16_t>::max());
    case Form::kCharacters:
      return CountProblem(value, "Characters", std::numeric_limits<int16_t>::min(),
                          std::numeric_limits<int16_t>::max());
    case Form::kSeconds:
      return CountProblem(value, "Seconds", std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
    case Form::kNotice:
      if (value.empty()) return {};
      return "a notice line holds no value";
    case Form::kText:
      return {};
  }
  return {};
}

// A filter's row line: its key is an access level or a number that a 16-bit code holds once
// rounded. The number is compared as a double: a longer one does not fit any integer type.
bool IsRowKey(std::string_view key) {
  if (ParseAccessName(key)) return true;
  const std::optional<double> number = WholeText(key);
  return number && *number >= std::numeric_limits<int16_t>::min() &&
         *number <= std::numeric_limits<uint16_t>::max();
}

bool IsValidityNotice(std::string_view key) {
  return (key.starts_with("*** Filter row ") || key.starts_with("*** Filter failed ")) &&
         key.find("failed validity check (ref=") != std::string_view::npos && key.ends_with(")");
}

class Checker {
 public:
  std::vector<DumpProblem> Run(std::string_view file_text) {
    // The lines are views into the caller's text; a problem copies its line.
    LineSplitter lines(file_text);
    std::string_view line;
    while (lines.Next(line)) {
      ++number_;
      text_ = line;
      CheckLine(line);
    }
    CloseBlock();
    return std::move(problems_);
  }

 private:
  void Error(std::string message) { Add(std::move(message), false); }
  void Add(std::string message, bool warning) {
    problems_.push_back({number_, std::string(text_), std::move(message), warning});
  }

  void CheckLine(std::string_view line) {
    if (HasControlCharacter(line)) Error("the line holds a control character");
    const size_t first = std::min(line.find_first_not_of(' '), line.size());
    if (first == line.size()) {  // empty, or blanks only: the end of a block
      if (block_ != Block::kNone) CloseBlock();
      after_empty_ = true;
      return;
    }
    if (line[first] == '\t') {
      Error("a line indented with a tab");
    } else if (first == 0) {
      HeadLine(line);
    } else {
      DetailLine(line);
    }
    after_empty_ = false;
  }

  void HeadLine(std::string_view line) {
    const KeyView head = SplitKeyView(line);
    const bool colon = line.find(':') != std::string_view::npos;
    CloseBlock();
    if (!colon || !IsHeadKey(head.key)) {
      Error(colon ? Quoted(head.key, {" is no head line key word"})
                  : "a line at the left margin that is no head line");
      block_ = Block::kUnknown;  // its lines are not checked again one by one
      return;
    }
    if (!after_empty_ && number_ > 1 && seen_head_) {
      Add("no empty line before this head line", true);
    }
    seen_head_ = true;
    block_ = BlockOf(head.key);
    const bool named =
        block_ == Block::kUser ? !ParseUserHeadValue(head.value).name.empty() : !head.value.empty();
    if (block_ != Block::kServer && !named) Error("a head line without a name");
    head_problems_end_ = problems_.size();
  }

  void DetailLine(std::string_view line) {
    if (block_ == Block::kUnknown) return;
    if (block_ == Block::kNone) {
      Error(after_empty_ && seen_head_ ? "a detail line after its block's empty line"
                                       : "a detail line outside any block");
      return;
    }
    const KeyView detail = SplitKeyView(line);
    const BlockRules rules = RulesOf(block_);
    for (const KeyRule* rule = rules.begin; rule != rules.end; ++rule) {
      if (detail.key != rule->key) continue;
      seen_ |= 1u << (rule - rules.begin);
      std::string problem = ValueProblem(rule->form, detail.value);
      if (!problem.empty()) Error(std::move(problem));
      return;
    }
    if (block_ == Block::kFilter && (IsRowKey(detail.key) || IsValidityNotice(detail.key))) {
      return;
    }
    Error(Quoted(
        detail.key,
        {" is no key of a", block_ == Block::kApplication || block_ == Block::kAccess ? "n " : " ",
         BlockName(block_), " block"}));
  }

  // A block ends: the lines it needs must have been there.
  void CloseBlock() {
    if (block_ != Block::kNone && block_ != Block::kUnknown) {
      const BlockRules rules = RulesOf(block_);
      for (const KeyRule* rule = rules.begin; rule != rules.end; ++rule) {
        if (!rule->required) continue;
        if ((seen_ & (1u << (rule - rules.begin))) == 0) {
          // Known only now, but it belongs to the head line: it goes after the head line's
          // own problems, before those of the block's lines and of the line that ends it.
          problems_.insert(
              problems_.begin() + static_cast<std::ptrdiff_t>(head_problems_end_++),
              {head_line_, std::string(head_text_),
               std::string("the block has no \"").append(rule->key).append(":\" line"), false});
        }
      }
    }
    block_ = Block::kNone;
    seen_ = 0;
    head_line_ = number_;
    head_text_ = text_;
  }

  std::vector<DumpProblem> problems_;
  int number_ = 0;
  std::string_view text_;
  Block block_ = Block::kNone;
  uint32_t seen_ = 0;  // bit i: the block's rule i had its line
  int head_line_ = 0;
  std::string_view head_text_;
  size_t head_problems_end_ = 0;  // where the problems of the block's own lines begin
  bool after_empty_ = false;
  bool seen_head_ = false;
};

}  // namespace

std::vector<DumpProblem> CheckDumpFile(std::string_view file_text) {
  return Checker().Run(file_text);
}

size_t ErrorCount(const std::vector<DumpProblem>& problems) {
  size_t errors = 0;
  for (const DumpProblem& problem : problems) errors += problem.warning ? 0 : 1;
  return errors;
}

std::string DescribeProblem(const DumpProblem& problem) {
  constexpr size_t kShown = 100;
  // Each byte shows as at least one character: the first kShown bytes give all that is shown.
  std::string out;
  out.reserve(32 + kShown + problem.message.size());
  out.append("Line ").append(std::to_string(problem.line)).append(": \"");
  const size_t start = out.size();
  AppendShowingControlCharacters(out, std::string_view(problem.text).substr(0, kShown));
  const bool cut = out.size() - start > kShown || problem.text.size() > kShown;
  out.resize(std::min(out.size(), start + kShown));
  out.append(cut ? "...\": " : "\": ");
  if (problem.warning) out.append("warning: ");
  return out.append(problem.message);
}

std::string ProblemCounts(const std::vector<DumpProblem>& problems) {
  const size_t errors = ErrorCount(problems);
  const size_t warnings = problems.size() - errors;
  auto count = [](size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
  };
  if (problems.empty()) return "no problems";
  if (warnings == 0) return count(errors, "error");
  if (errors == 0) return count(warnings, "warning");
  return count(errors, "error") + ", " + count(warnings, "warning");
}

}  // namespace cubesec
