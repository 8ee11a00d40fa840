#include "client/dump_format.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "tools/text.h"

namespace cubesec {
namespace {

constexpr KeySpec kServerKeys[] = {
    {"Date Made", ValueForm::kText},  {"Security", ValueForm::kYesNo},
    {"Logins", ValueForm::kYesNo},    {"Default Access", ValueForm::kAccess},
    {"Validity", ValueForm::kDays},   {"MinLength", ValueForm::kCharacters},
    {"TimeOut", ValueForm::kSeconds}, {"Check Frequency", ValueForm::kSeconds},
    {"Format", ValueForm::kFormat},
};
constexpr KeySpec kGroupKeys[] = {
    {"Access", ValueForm::kAccess},
    {"Users", ValueForm::kNameList},
    {"*** No users in this group ***", ValueForm::kNotice},
};
constexpr KeySpec kUserKeys[] = {
    {"Access", ValueForm::kAccess},
    {"Last Login", ValueForm::kText},
    {"Groups", ValueForm::kNameList},
    {"* Account Disabled *", ValueForm::kNotice},
};
constexpr KeySpec kApplicationKeys[] = {
    {"Description", ValueForm::kText}, {"Loadable", ValueForm::kYesNo},
    {"Autoload", ValueForm::kYesNo},   {"Default Access", ValueForm::kAccess},
    {"Connects", ValueForm::kYesNo},   {"Commands", ValueForm::kYesNo},
    {"Updates", ValueForm::kYesNo},    {"Security", ValueForm::kYesNo},
};
constexpr KeySpec kDatabaseKeys[] = {
    {"Description", ValueForm::kText},
    {"Loadable", ValueForm::kYesNo},
    {"Autoload", ValueForm::kYesNo},
    {"Default Access", ValueForm::kAccess},
};
// Row lines are not listed: their key is an access level or a number.
constexpr KeySpec kFilterKeys[] = {
    {"Active", ValueForm::kYesNo, true},
    {"Default Access", ValueForm::kAccess, true},
    {"Users", ValueForm::kNameList},
    {"* Filter is not used by any users/groups *", ValueForm::kNotice},
};
// Without its "Access" line an access block would grant None.
constexpr KeySpec kAccessKeys[] = {
    {"Access", ValueForm::kAccess, true},
    {"Max Access", ValueForm::kAccess},
    {"Filter", ValueForm::kName},
    {"Calcs", ValueForm::kCalcList},
};

constexpr BlockSpec kBlocks[] = {
    {BlockKind::kServer, "Server", kServerKeys},
    {BlockKind::kGroup, "Group", kGroupKeys},
    {BlockKind::kUser, "User", kUserKeys},
    {BlockKind::kApplication, "Application", kApplicationKeys},
    {BlockKind::kDatabase, "Database", kDatabaseKeys},
    {BlockKind::kFilter, "Filter", kFilterKeys, /*rows=*/true},
    {BlockKind::kGroupAccess, "Group Access", kAccessKeys},
    {BlockKind::kUserAccess, "User Access", kAccessKeys},
    {BlockKind::kEnd, "End", {}},
};
static_assert(std::size(kBlocks) == static_cast<size_t>(BlockKind::kEnd) + 1);
// Older files name a user's or group's access block so.
constexpr std::string_view kOldAccessHead = "User/Group";

// In the order they follow the name.
constexpr std::string_view kDisabled = "Account Disabled";
constexpr std::string_view kExpired = "Password Expired";
constexpr std::string_view kInactive = "Inactive";

bool IsControl(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7F; }

// Whether one of the eight bytes of `word` is a control character. A byte below 0x20 (TAB
// too) or a byte that is 0x7F makes it true, so there are no false negatives.
bool MayHoldControl(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHighBits = 0x8080808080808080;
  const uint64_t below_blank = (word - kOnes * 0x20) & ~word & kHighBits;
  const uint64_t del = word ^ (kOnes * 0x7F);
  const uint64_t is_del = (del - kOnes) & ~del & kHighBits;
  return (below_blank | is_del) != 0;
}

// The first control character among the `count` bytes at `pos`, or npos.
size_t ControlAmong(std::string_view text, size_t pos, size_t count) {
  for (size_t i = pos; i < pos + count; ++i) {
    if (IsControl(static_cast<unsigned char>(text[i]))) return i;
  }
  return std::string_view::npos;
}

// Where the first control character at or after `from` stands, or npos. Eight bytes are
// tried at once and only a word that may hold one is looked at byte by byte: every line of
// a dump file is searched, and most hold none. The last few bytes are tried as the text's
// last eight (bytes already found clean do no harm), or padded with blanks in a short text.
size_t FindControl(std::string_view text, size_t from) {
  size_t pos = from;
  uint64_t word;
  for (; pos + 8 <= text.size(); pos += 8) {
    std::memcpy(&word, text.data() + pos, 8);
    if (!MayHoldControl(word)) continue;
    if (const size_t at = ControlAmong(text, pos, 8); at != std::string_view::npos) return at;
  }
  if (pos == text.size()) return std::string_view::npos;
  if (text.size() >= 8) {
    std::memcpy(&word, text.data() + text.size() - 8, 8);
  } else {
    word = 0x2020202020202020;
    std::memcpy(&word, text.data() + pos, text.size() - pos);
  }
  return MayHoldControl(word) ? ControlAmong(text, pos, text.size() - pos) : std::string_view::npos;
}

// The length of the well-formed UTF-8 character at `at`, or 0 when the bytes there begin
// none (a stray continuation byte, an overlong or surrogate form, a cut-off sequence).
size_t Utf8CharacterLength(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) {
    return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
  };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The marker word at the end of `text` after " * ", or empty.
std::string_view TrailingMarker(std::string_view text) {
  for (std::string_view word : {kDisabled, kExpired, kInactive}) {
    if (text.size() >= word.size() + 3 && text.ends_with(word) &&
        text.substr(text.size() - word.size() - 3, 3) == " * ") {
      return word;
    }
  }
  return {};
}

// Reads names from a value left to right, each character once: a quoted name runs to the
// quote that is not doubled; a bare one to the next comma (in a list) or the end.
class NameScanner {
 public:
  explicit NameScanner(std::string_view text) : text_(text) { SkipBlanks(); }

  bool AtEnd() const { return pos_ >= text_.size(); }
  std::string_view Rest() const { return text_.substr(std::min(pos_, text_.size())); }
  const std::string& error() const { return error_; }
  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
  }

  std::optional<std::string> Name(bool in_list) {
    if (!AtEnd() && text_[pos_] == '"') return Quoted();
    const size_t end = in_list ? std::min(text_.find(',', pos_), text_.size()) : text_.size();
    std::string name(TrimView(text_.substr(pos_, end - pos_)));
    pos_ = end;
    if (name.empty() && in_list) {
      Fail("an empty name in the list");
      return std::nullopt;
    }
    return name;
  }

  // After a name of a list: a comma and the next name, or the end.
  bool Separator() {
    SkipBlanks();
    if (AtEnd()) return true;
    if (text_[pos_] != ',') {
      Fail("text after the closing quote");
      return false;
    }
    ++pos_;
    SkipBlanks();
    if (AtEnd()) {
      Fail("the list ends with a comma");
      return false;
    }
    return true;
  }

 private:
  std::optional<std::string> Quoted() {
    std::string name;
    for (size_t i = pos_ + 1; i < text_.size(); ++i) {
      if (text_[i] != '"') {
        name += text_[i];
      } else if (i + 1 < text_.size() && text_[i + 1] == '"') {
        name += '"';
        ++i;
      } else {
        pos_ = i + 1;
        SkipBlanks();
        return name;
      }
    }
    Fail("a quoted name without its closing quote");
    return std::nullopt;
  }

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

const BlockSpec& SpecOf(BlockKind kind) { return kBlocks[static_cast<size_t>(kind)]; }

const BlockSpec* SpecOfHead(std::string_view key) {
  for (const BlockSpec& spec : kBlocks) {
    if (key == spec.head) return &spec;
  }
  return key == kOldAccessHead ? &SpecOf(BlockKind::kUserAccess) : nullptr;
}

const KeySpec* KeyOf(const BlockSpec& spec, std::string_view key) {
  for (const KeySpec& rule : spec.keys) {
    if (key == rule.key) return &rule;
  }
  return nullptr;
}

bool IsHeadKey(std::string_view key) { return SpecOfHead(key) != nullptr; }

bool IsHeadLine(std::string_view line) {
  if (line.empty() || line.front() == ' ' || line.front() == '\t') return false;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  return IsHeadKey(Trim(line.substr(0, colon)));
}

std::string DetailLine(std::string_view key, std::string_view value) {
  std::string line;
  line.reserve(key.size() + value.size() + 5);
  return line.append("   ").append(key).append(": ").append(value);
}

std::string QuoteName(std::string_view name) {
  const bool bare = !name.empty() && name.find_first_of(",*") == std::string_view::npos &&
                    name.front() != '"' && !IsBlank(name.front()) && !IsBlank(name.back()) &&
                    !IsAllCalcs(name);
  if (bare) return std::string(name);
  std::string quoted;
  quoted.reserve(name.size() + 2);
  quoted += '"';
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += ", ";
    joined += QuoteName(name);
  }
  return joined;
}

std::optional<std::string> ReadName(std::string_view value, std::string* error) {
  NameScanner scan(value);
  std::optional<std::string> name = scan.Name(/*in_list=*/false);
  if (name && !scan.AtEnd()) {
    scan.Fail("text after the closing quote");
    name.reset();
  }
  if (!name && error) *error = scan.error();
  return name;
}

std::optional<std::vector<std::string>> ReadNameList(std::string_view value, std::string* error) {
  NameScanner scan(value);
  std::vector<std::string> names;
  while (!scan.AtEnd()) {
    std::optional<std::string> name = scan.Name(/*in_list=*/true);
    if (!name || !scan.Separator()) {
      if (error) *error = scan.error();
      return std::nullopt;
    }
    names.push_back(std::move(*name));
  }
  return names;
}

std::string UserHeadValue(std::string_view name, const UserMarkers& markers) {
  std::string value = QuoteName(name);
  bool any = false;
  for (auto [set, word] :
       {std::pair{markers.disabled, kDisabled}, std::pair{markers.expired, kExpired},
        std::pair{markers.inactive, kInactive}}) {
    if (!set) continue;
    value.append(" * ").append(word);
    any = true;
  }
  if (any) value += " *";
  return value;
}

std::optional<UserHead> ReadUserHead(std::string_view value, std::string* error) {
  const auto fail = [&](std::string why) -> std::optional<UserHead> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  value = TrimView(value);
  UserHead head;
  std::string_view markers;
  if (!value.empty() && value.front() == '"') {
    NameScanner scan(value);
    std::optional<std::string> name = scan.Name(/*in_list=*/false);
    if (!name) return fail(scan.error());
    head.name = std::move(*name);
    markers = scan.Rest();
  } else {
    const size_t star = value.find('*');
    head.name = std::string(TrimView(value.substr(0, star)));
    if (star != std::string_view::npos) markers = value.substr(star);
  }
  // "* Word * Word *": each piece between two asterisks one marker word, in order.
  markers = TrimView(markers);
  if (markers.empty()) return head;
  if (markers.size() < 2 || markers.front() != '*' || markers.back() != '*') {
    return fail("the name is followed by text that is no marker");
  }
  std::string_view rest = markers.substr(1, markers.size() - 2);
  size_t next_order = 0;
  while (true) {
    const size_t star = rest.find('*');
    const std::string_view word = TrimView(rest.substr(0, star));
    size_t order = 0;
    bool* flag = nullptr;
    for (auto [f, w] :
         {std::pair{&head.markers.disabled, kDisabled}, std::pair{&head.markers.expired, kExpired},
          std::pair{&head.markers.inactive, kInactive}}) {
      if (word == w) flag = f;
      if (!flag) ++order;
    }
    if (!flag || order < next_order) {
      return fail("\"" + std::string(word) + "\" is no marker of a user, or not in its place");
    }
    *flag = true;
    next_order = order + 1;
    if (star == std::string_view::npos) break;
    rest = rest.substr(star + 1);
  }
  return head;
}

UserHead ParseUserHeadValue(std::string_view value) {
  UserHead head;
  std::string_view rest = value;
  bool any = false;
  // " * WORD" for each marker, from the right, inside the closing " *".
  if (rest.ends_with(" *")) {
    rest.remove_suffix(2);
    for (bool matched = true; matched;) {
      matched = false;
      for (auto [flag, word] : {std::pair{&head.markers.disabled, kDisabled},
                                std::pair{&head.markers.expired, kExpired},
                                std::pair{&head.markers.inactive, kInactive}}) {
        const size_t size = word.size() + 3;
        const bool whole = rest.size() == size - 1 && rest.starts_with("* ");  // no name
        if (rest.ends_with(word) &&
            (whole || (rest.size() >= size && rest.substr(rest.size() - size, 3) == " * "))) {
          *flag = true;
          rest.remove_suffix(whole ? size - 1 : size);
          matched = any = true;
          break;
        }
      }
    }
  }
  head.name = Trim(any ? rest : value);
  if (!any) head.markers = UserMarkers();
  return head;
}

std::vector<std::string> UserHeadReadings(std::string_view value) {
  value = TrimView(value);
  std::vector<std::string> readings{std::string(value)};
  if (!value.ends_with(" *")) return readings;
  std::string_view rest = value.substr(0, value.size() - 2);
  for (std::string_view word = TrailingMarker(rest); !word.empty(); word = TrailingMarker(rest)) {
    rest.remove_suffix(word.size() + 3);
    readings.push_back(Trim(rest));
  }
  return readings;
}

bool HasControlCharacter(std::string_view text) {
  return FindControl(text, 0) != std::string_view::npos;
}

std::string BlankControlCharacters(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsControl(static_cast<unsigned char>(c))) c = ' ';
  }
  return out;
}

std::string ShowControlCharacters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendShowingControlCharacters(out, text);
  return out;
}

void AppendShowingControlCharacters(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const auto show = [&](unsigned char byte) {
    const char shown[] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    out.append(shown, sizeof shown);
  };
  size_t plain = 0;  // the start of the bytes not yet taken over
  size_t at = 0;
  while (at < text.size()) {
    // Most messages quote plain ASCII: eight bytes without a control character or a high
    // bit are passed over at once.
    if (uint64_t word; at + 8 <= text.size()) {
      std::memcpy(&word, text.data() + at, 8);
      if ((word & 0x8080808080808080) == 0 && !MayHoldControl(word)) {
        at += 8;
        continue;
      }
    }
    const auto byte = static_cast<unsigned char>(text[at]);
    size_t length = 1;
    size_t shown = 0;  // bytes to show as \xNN
    if (byte < 0x80) {
      shown = IsControl(byte) ? 1 : 0;
    } else if (const size_t character = Utf8CharacterLength(text, at); character > 0) {
      length = character;
      // U+0080 to U+009F are the C1 controls, as a terminal that reads UTF-8 takes them.
      if (byte == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) shown = 2;
    } else {
      // A byte that begins no character: 0x80 to 0x9F is a C1 control to a terminal that
      // reads 8-bit text (0x9B starts an escape sequence there). Other stray bytes can do no
      // harm and stay as they are.
      shown = byte <= 0x9F ? 1 : 0;
    }
    if (shown > 0) {
      out.append(text.data() + plain, at - plain);
      for (size_t i = 0; i < shown; ++i) show(static_cast<unsigned char>(text[at + i]));
      plain = at + length;
    }
    at += length;
  }
  out.append(text.data() + plain, text.size() - plain);
}

std::string NameProblem(std::string_view name) {
  size_t characters = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    // U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
    const bool c1 = byte == 0xC2 && i + 1 < name.size() &&
                    static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(name[i + 1]) <= 0x9F;
    if (IsControl(byte) || byte == '\t' || c1) {
      return "the name holds a control character";
    }
    if ((byte & 0xC0) != 0x80) ++characters;  // continuation bytes belong to their character
  }
  if (characters > kMaxNameCharacters) {
    return "the name is longer than " + std::to_string(kMaxNameCharacters) + " characters";
  }
  return {};
}

}  // namespace cubesec
