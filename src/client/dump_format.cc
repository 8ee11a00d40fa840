#include "client/dump_format.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "tools/text.h"

namespace cubesec {
namespace {

constexpr std::array<std::string_view, 9> kHeadKeys = {
    "Server", "Group",        "User",        "Application", "Database",
    "Filter", "Group Access", "User Access", "User/Group",
};

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

}  // namespace

bool IsHeadKey(std::string_view key) {
  for (std::string_view head : kHeadKeys) {
    if (key == head) return true;
  }
  return false;
}

bool IsHeadLine(std::string_view line) {
  if (line.empty() || line.front() == ' ' || line.front() == '\t') return false;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  return IsHeadKey(Trim(line.substr(0, colon)));
}

std::string UserHeadValue(std::string_view name, const UserMarkers& markers) {
  std::string value(name);
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

bool EndsLikeUserMarkers(std::string_view name) {
  return ParseUserHeadValue(name).name != Trim(name);
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

}  // namespace cubesec
