#include "restore/dump_check.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "client/access_levels.h"
#include "client/dump_format.h"
#include "tools/files.h"
#include "tools/text.h"

namespace cubesec {
namespace {

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

std::string ValueProblem(ValueForm form, std::string_view value) {
  switch (form) {
    case ValueForm::kYesNo:
      for (std::string_view word : {"Yes", "No", "True", "False"}) {
        if (EqualsIgnoreCase(value, word)) return {};
      }
      return Quoted(value, {" is neither Yes nor No"});
    case ValueForm::kAccess:
      if (ParseAccessName(value)) return {};
      return Quoted(value, {" is no access level"});
    case ValueForm::kDays:
      return CountProblem(value, "Days", std::numeric_limits<int16_t>::min(),
                          std::numeric_limits<int16_t>::max());
    case ValueForm::kCharacters:
      return CountProblem(value, "Characters", std::numeric_limits<int16_t>::min(),
                          std::numeric_limits<int16_t>::max());
    case ValueForm::kSeconds:
      return CountProblem(value, "Seconds", std::numeric_limits<int32_t>::min(),
                          std::numeric_limits<int32_t>::max());
    case ValueForm::kFormat:
      if (value.size() == 1 && value[0] >= '1' && value[0] <= '0' + kDumpFormat) return {};
      return Quoted(value,
                    {" is no format this program reads (1 to ", std::to_string(kDumpFormat), ")"});
    case ValueForm::kNotice:
      if (value.empty()) return {};
      return "a notice line holds no value";
    case ValueForm::kText:
    case ValueForm::kName:
    case ValueForm::kNameList:
    case ValueForm::kCalcList:
      return {};  // names are read by the checker, which knows the file's format
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

// "an Application block", "a Group block".
std::string_view Article(std::string_view word) {
  return !word.empty() && std::string_view("AEae").find(word[0]) != std::string_view::npos ? "an "
                                                                                           : "a ";
}

std::string_view BlockWord(const BlockSpec& spec) {
  return spec.kind == BlockKind::kGroupAccess || spec.kind == BlockKind::kUserAccess ? "access"
                                                                                     : spec.head;
}

// A list of an older file, checked once every head name of the file is known.
struct OlderList {
  int line;
  std::string_view text;
  std::string_view value;
  std::string_view separator;
};

// A user head line of an older file.
struct OlderUserHead {
  int line;
  std::string_view text;
  std::string_view value;
};

class Checker {
 public:
  std::vector<DumpProblem> Run(std::string_view file_text) {
    if (file_text.find('\0') != std::string_view::npos) {
      std::string_view first;
      LineSplitter(file_text).Next(first);
      return {{1, std::string(first),
               "the file holds NUL bytes: it is not text, and not a dump file", false}};
    }
    // The lines are views into the caller's text; a problem copies its line.
    LineSplitter lines(file_text);
    std::string_view line;
    while (lines.Next(line)) {
      ++number_;
      text_ = line;
      if (number_ == 1) first_text_ = line;
      CheckLine(line);
      if (not_a_dump_) return std::move(problems_);
    }
    CloseBlock();
    CheckEnd();
    if (format_ < kDumpFormat) CheckOlderNames();
    // Problems found after the whole file was read go among the others by their line.
    std::stable_sort(problems_.begin(), problems_.end(),
                     [](const DumpProblem& a, const DumpProblem& b) { return a.line < b.line; });
    return std::move(problems_);
  }

 private:
  void Error(std::string message) { Add(std::move(message), false); }
  void Add(std::string message, bool warning) {
    problems_.push_back({number_, std::string(text_), std::move(message), warning});
  }
  void ErrorAt(int line, std::string_view text, std::string message) {
    problems_.push_back({line, std::string(text), std::move(message), false});
  }

  // The one problem of a file that is no dump at all: its other lines say nothing more.
  void NotADump(std::string message) {
    problems_.clear();
    Error(std::move(message));
    not_a_dump_ = true;
  }

  void CheckLine(std::string_view line) {
    const size_t first = std::min(line.find_first_not_of(' '), line.size());
    if (first == line.size()) {  // empty, or blanks only: the end of a block
      if (block_ || unknown_block_) CloseBlock();
      after_empty_ = true;
      return;
    }
    if (!seen_head_ && (first != 0 || !IsHeadLine(line) ||
                        SpecOfHead(SplitKeyView(line).key)->kind != BlockKind::kServer)) {
      return NotADump("not a dump file: it does not begin with a Server block");
    }
    if (HasControlCharacter(line)) Error("the line holds a control character");
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
    const BlockSpec* spec = colon ? SpecOfHead(head.key) : nullptr;
    if (!spec) {
      Error(colon ? Quoted(head.key, {" is no head line key word"})
                  : "a line at the left margin that is no head line");
      unknown_block_ = true;  // its lines are not checked again one by one
      return;
    }
    if (!after_empty_ && number_ > 1 && seen_head_) {
      Add("no empty line before this head line", true);
    }
    seen_head_ = true;
    block_ = spec;
    CheckPlace(spec->kind);
    CheckHeadName(spec->kind, head.value);
    head_problems_end_ = problems_.size();
  }

  // Where a block may stand: one Server block, first; groups and users before the first
  // application; databases in an application; filters and access blocks in a database; the
  // End block last.
  void CheckPlace(BlockKind kind) {
    if (end_line_ != 0) {
      Error("a block after the End block of line " + std::to_string(end_line_));
    }
    switch (kind) {
      case BlockKind::kServer:
        if (server_line_ != 0) {
          Error("a second Server block (the first is on line " + std::to_string(server_line_) +
                ")");
        }
        server_line_ = number_;
        server_text_ = text_;
        return;
      case BlockKind::kGroup:
      case BlockKind::kUser:
        if (in_applications_) {
          Error(std::string(Article(SpecOf(kind).head)) + std::string(SpecOf(kind).head) +
                " block after the first Application block");
        }
        return;
      case BlockKind::kApplication:
        in_applications_ = true;
        db_.clear();
        return;
      case BlockKind::kDatabase:
        if (!in_applications_) Error("a Database block outside any Application block");
        return;
      case BlockKind::kFilter:
      case BlockKind::kGroupAccess:
      case BlockKind::kUserAccess:
        if (db_.empty()) {
          Error(std::string(Article(BlockWord(SpecOf(kind)))) +
                std::string(BlockWord(SpecOf(kind))) + " block outside any Database block");
        }
        return;
      case BlockKind::kEnd:
        end_line_ = number_;
        return;
    }
  }

  void CheckHeadName(BlockKind kind, std::string_view value) {
    if (kind == BlockKind::kServer) return;
    if (kind == BlockKind::kEnd) {
      if (value != kEndComplete) Error(Quoted(value, {" is not \"complete\""}));
      return;
    }
    std::string name, why;
    if (kind == BlockKind::kUser) {
      if (format_ >= kDumpFormat) {
        std::optional<UserHead> head = ReadUserHead(value, &why);
        if (!head) return Error(Quoted(value, {": ", why}));
        name = std::move(head->name);
      } else {
        name = ParseUserHeadValue(value).name;
        older_users_.push_back({number_, text_, value});
      }
    } else if (format_ >= kDumpFormat) {
      std::optional<std::string> read = ReadName(value, &why);
      if (!read) return Error(Quoted(value, {": ", why}));
      name = std::move(*read);
    } else {
      name = std::string(value);
    }
    if (name.empty()) return Error("a head line without a name");
    if (std::string problem = NameProblem(name); !problem.empty()) {
      Error(Quoted(name, {": ", problem}));
    }
    std::string key = ToLower(name);
    if (format_ < kDumpFormat && (kind == BlockKind::kGroup || kind == BlockKind::kUser)) {
      most_commas_ = std::max<size_t>(most_commas_, std::count(key.begin(), key.end(), ','));
      older_names_.insert(key);
      if (kind == BlockKind::kUser) older_user_names_.insert(key);
    }
    // The same object twice: names compare as the server compares them.
    switch (kind) {
      case BlockKind::kApplication:
        app_ = key;
        key.insert(0, "a\t");
        break;
      case BlockKind::kDatabase:
        db_ = app_ + "\t" + key;
        key = "d\t" + db_;
        break;
      case BlockKind::kFilter:
        key = "f\t" + db_ + "\t" + key;
        break;
      case BlockKind::kGroupAccess:
      case BlockKind::kUserAccess:
        key = "x\t" + db_ + "\t" + key;
        break;
      default:  // a group and a user cannot share a name
        key.insert(0, "u\t");
        break;
    }
    const auto [first, added] = first_lines_.emplace(std::move(key), number_);
    if (!added) {
      Error(Quoted(name,
                   {" has a block of its own already, on line ", std::to_string(first->second)}));
    }
  }

  void DetailLine(std::string_view line) {
    if (unknown_block_) return;
    if (!block_) {
      Error(after_empty_ && seen_head_ ? "a detail line after its block's empty line"
                                       : "a detail line outside any block");
      return;
    }
    const KeyView detail = SplitKeyView(line);
    if (const KeySpec* rule = KeyOf(*block_, detail.key)) {
      seen_ |= 1u << (rule - block_->keys.data());
      std::string problem = ValueProblem(rule->form, detail.value);
      if (!problem.empty()) return Error(std::move(problem));
      if (rule->form == ValueForm::kFormat) declared_format_ = detail.value[0] - '0';
      if (rule->form == ValueForm::kName || rule->form == ValueForm::kNameList ||
          rule->form == ValueForm::kCalcList) {
        CheckNames(rule->form, detail.value, block_->kind == BlockKind::kUser ? "," : ", ");
      }
      return;
    }
    if (block_->rows && (IsRowKey(detail.key) || IsValidityNotice(detail.key))) return;
    const std::string_view word = BlockWord(*block_);
    Error(Quoted(detail.key, {" is no key of ", Article(word), word, " block"}));
  }

  // The names of a "Filter:" line or of a list, as the file's format has them.
  void CheckNames(ValueForm form, std::string_view value, std::string_view older_separator) {
    if (form == ValueForm::kCalcList && IsAllCalcs(value)) return;
    if (format_ < kDumpFormat) {
      // Each piece is part of a name at most: one that a server refuses is refused.
      for (const std::string& piece : Split(value, ",")) {
        if (std::string problem = NameProblem(Trim(piece)); !problem.empty()) {
          return Error(Quoted(Trim(piece), {": ", problem}));
        }
      }
      if (form != ValueForm::kName)
        older_lists_.push_back({number_, text_, value, older_separator});
      return;
    }
    std::string why;
    std::vector<std::string> names;
    if (form == ValueForm::kName) {
      std::optional<std::string> name = ReadName(value, &why);
      if (name) names.push_back(std::move(*name));
    } else if (std::optional<std::vector<std::string>> list = ReadNameList(value, &why)) {
      names = std::move(*list);
    }
    if (!why.empty()) return Error(Quoted(value, {": ", why}));
    for (const std::string& name : names) {
      if (std::string problem = NameProblem(name); !problem.empty()) {
        return Error(Quoted(name, {": ", problem}));
      }
    }
  }

  // A block ends: the lines it needs must have been there.
  void CloseBlock() {
    if (block_) {
      for (const KeySpec& rule : block_->keys) {
        if (!rule.required) continue;
        if ((seen_ & (1u << (&rule - block_->keys.data()))) == 0) {
          // Known only now, but it belongs to the head line: it goes after the head line's
          // own problems, before those of the block's lines and of the line that ends it.
          problems_.insert(
              problems_.begin() + static_cast<std::ptrdiff_t>(head_problems_end_++),
              {head_line_, std::string(head_text_),
               std::string("the block has no \"").append(rule.key).append(":\" line"), false});
        }
      }
      if (block_->kind == BlockKind::kServer) format_ = declared_format_;
    }
    block_ = nullptr;
    unknown_block_ = false;
    seen_ = 0;
    head_line_ = number_;
    head_text_ = text_;
  }

  // A dump that says its format says whether it is whole; an older one cannot.
  void CheckEnd() {
    if (!seen_head_) {
      // Blank lines only: the problem stands on the first, shown as it is.
      number_ = 1;
      text_ = first_text_;
      return NotADump("not a dump file: it is empty");
    }
    if (end_line_ != 0) return;
    if (format_ >= kDumpFormat) {
      Error("the file ends without its \"End: complete\" block: the dump is incomplete");
    } else {
      problems_.push_back({server_line_, std::string(server_text_),
                           "a file of an older format: whether it is complete cannot be checked",
                           true});
    }
  }

  // An older file's names are bare: a user head line or a list that the file's own names
  // let read two ways is refused, rather than applied on a guess.
  void CheckOlderNames() {
    for (const OlderUserHead& head : older_users_) {
      const std::vector<std::string> readings = UserHeadReadings(head.value);
      for (size_t i = 0; i + 1 < readings.size(); ++i) {
        if (older_user_names_.count(ToLower(readings[i])) != 0) {
          ErrorAt(head.line, head.text,
                  "the head line can be read as user " +
                      Quoted(readings[i], {" (a user of this file too) or as user "}) +
                      Quoted(readings.back(), {}));
          break;
        }
      }
    }
    for (const OlderList& list : older_lists_) CheckOlderList(list);
  }

  // Whether pieces [from, to) can be read as two or more names of the file.
  bool SplitsIntoNames(const std::vector<std::string>& pieces, size_t from, size_t to,
                       std::string_view separator) const {
    // readable[k]: pieces [from, from + k) read as names of the file.
    std::vector<bool> readable(to - from + 1, false);
    readable[0] = true;
    for (size_t end = from + 1; end <= to; ++end) {
      std::string joined;
      for (size_t start = end; start-- > from;) {
        joined = start + 1 == end ? pieces[start] : pieces[start] + std::string(separator) + joined;
        if (start == from && end == to) continue;  // the whole run is the other reading
        if (readable[start - from] && older_names_.count(ToLower(Trim(joined))) != 0) {
          readable[end - from] = true;
          break;
        }
      }
    }
    return readable[to - from];
  }

  void CheckOlderList(const OlderList& list) {
    if (older_names_.empty()) return;
    const std::vector<std::string> pieces = Split(list.value, list.separator);
    const size_t most = most_commas_ + 1;
    for (size_t i = 0; i < pieces.size(); ++i) {
      std::string joined = pieces[i];
      for (size_t j = i + 1; j < pieces.size() && j - i < most; ++j) {
        joined.append(list.separator).append(pieces[j]);
        const std::string name = Trim(joined);
        if (older_names_.count(ToLower(name)) != 0 &&
            SplitsIntoNames(pieces, i, j + 1, list.separator)) {
          return ErrorAt(list.line, list.text,
                         Quoted(name, {" can be read as one name or as several names of this "
                                       "file"}));
        }
      }
    }
  }

  std::vector<DumpProblem> problems_;
  int number_ = 0;
  std::string_view text_;
  std::string_view first_text_;       // the file's first line
  const BlockSpec* block_ = nullptr;  // the block being read; nullptr between blocks
  bool unknown_block_ = false;        // a head line of no known kind began this block
  uint32_t seen_ = 0;                 // bit i: the block's rule i had its line
  int head_line_ = 0;
  std::string_view head_text_;
  size_t head_problems_end_ = 0;  // where the problems of the block's own lines begin
  bool after_empty_ = false;
  bool seen_head_ = false;
  bool not_a_dump_ = false;

  int declared_format_ = 1;  // the Server block's "Format:" line
  int format_ = 1;           // the file's format, known once the Server block has ended
  int server_line_ = 0;
  std::string_view server_text_;
  int end_line_ = 0;
  bool in_applications_ = false;
  std::string app_;  // the current application and database, lower-cased
  std::string db_;
  std::unordered_map<std::string, int> first_lines_;  // object key -> line of its block

  // An older file's names, for the readings of its lists and user head lines.
  std::unordered_set<std::string> older_names_;       // groups and users, lower-cased
  std::unordered_set<std::string> older_user_names_;  // users, lower-cased
  size_t most_commas_ = 0;
  std::vector<OlderUserHead> older_users_;
  std::vector<OlderList> older_lists_;
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

int DumpFileFormat(std::string_view file_text) {
  LineSplitter lines(file_text);
  std::string_view line;
  // The "Format:" line stands in the Server block, the first block (empty lines may come
  // before it, as the check allows).
  bool in_block = false;
  while (lines.Next(line)) {
    const bool empty = TrimView(line).empty();
    if (!in_block) {
      in_block = !empty;
      continue;
    }
    if (empty || IsHeadLine(line)) break;  // the Server block has ended
    const KeyView detail = SplitKeyView(line);
    if (detail.key == "Format" && detail.value.size() == 1 && detail.value[0] >= '1' &&
        detail.value[0] <= '9') {
      return detail.value[0] - '0';
    }
  }
  return 1;
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
