#include "tools/text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace cubesec {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the run of digits that starts at `pos`.
size_t DigitRun(std::string_view text, size_t pos) {
  size_t end = pos;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return end - pos;
}

bool StartsWithIgnoreCase(std::string_view text, size_t pos, std::string_view prefix) {
  if (text.size() - pos < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[pos + i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

}  // namespace

std::string FormatMsg(std::string_view tmpl, const std::vector<MsgValue>& values) {
  // Each value's placeholder and replacement, in the order listed; index 0 means named.
  struct Slot {
    size_t index;                  // positional number, or 0 for a named value
    std::string_view placeholder;  // named values only
    std::string_view replacement;
  };
  std::vector<Slot> slots;
  slots.reserve(values.size());
  size_t positional = 0;
  for (const MsgValue& value : values) {
    if (const auto* text = std::get_if<std::string>(&value)) {
      slots.push_back({++positional, {}, *text});
    } else {
      const auto& named = std::get<NamedValue>(value);
      if (!named.placeholder.empty()) slots.push_back({0, named.placeholder, named.value});
    }
  }

  std::string out;
  out.reserve(tmpl.size());
  size_t pos = 0;
  while (pos < tmpl.size()) {
    // "%n" names the value numbered by the whole run of digits after "%".
    size_t digits = 0;
    size_t number = 0;
    bool number_valid = false;
    if (tmpl[pos] == '%') {
      digits = DigitRun(tmpl, pos + 1);
      if (digits > 0) {
        auto [ptr, ec] =
            std::from_chars(tmpl.data() + pos + 1, tmpl.data() + pos + 1 + digits, number);
        (void)ptr;
        number_valid = ec == std::errc();
      }
    }
    const Slot* match = nullptr;
    size_t match_length = 0;
    for (const Slot& slot : slots) {
      if (slot.index != 0) {
        if (number_valid && number == slot.index) {
          match = &slot;
          match_length = 1 + digits;
          break;
        }
      } else if (StartsWithIgnoreCase(tmpl, pos, slot.placeholder)) {
        match = &slot;
        match_length = slot.placeholder.size();
        break;
      }
    }
    if (match != nullptr) {
      out.append(match->replacement);
      pos += match_length;
    } else if (digits > 0) {
      // A numbered placeholder without a value stays as it is, digits and all.
      out.append(tmpl.substr(pos, 1 + digits));
      pos += 1 + digits;
    } else {
      out.push_back(tmpl[pos]);
      ++pos;
    }
  }
  return out;
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string_view TrimView(std::string_view text) {
  const size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return text.substr(text.size());
  return text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
}

std::string CutAtNul(std::string_view buffer) {
  size_t nul = buffer.find('\0');
  return Trim(nul == std::string_view::npos ? buffer : buffer.substr(0, nul));
}

std::string Counted(size_t count, std::string_view singular, std::string_view plural) {
  return std::to_string(count) + " " + std::string(count == 1 ? singular : plural);
}

std::string YesNo(int value) { return value != 0 ? "Yes" : "No"; }

double LeadingNumber(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  // Take only digits, a fraction and an exponent, so that "inf", "nan" and hexadecimal
  // forms are not numbers here.
  size_t start = pos;
  size_t int_digits = DigitRun(text, pos);
  pos += int_digits;
  size_t frac_digits = 0;
  if (pos < text.size() && text[pos] == '.') {
    frac_digits = DigitRun(text, pos + 1);
    pos += 1 + frac_digits;
  }
  if (int_digits + frac_digits == 0) return 0.0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t exp = pos + 1;
    if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) ++exp;
    size_t exp_digits = DigitRun(text, exp);
    if (exp_digits > 0) pos = exp + exp_digits;
  }
  double value = 0.0;
  auto [ptr, ec] = std::from_chars(text.data() + start, text.data() + pos, value);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: the size of the mantissa and the exponent tell
    // which, and the result saturates to infinity or becomes 0.
    std::string_view number = text.substr(start, pos - start);
    size_t e = number.find_first_of("eE");
    double mantissa = 0.0;
    auto mantissa_end = number.data() + (e == std::string_view::npos ? number.size() : e);
    auto [mptr, mec] = std::from_chars(number.data(), mantissa_end, mantissa);
    (void)mptr;
    double magnitude = 0.0;
    if (mec == std::errc::result_out_of_range) {
      // A huge whole part or a tiny fraction.
      std::string_view whole = number.substr(0, number.find_first_of(".eE"));
      bool large = whole.find_first_not_of('0') != std::string_view::npos;
      magnitude = large ? 1.0 : -1.0;
    } else if (mantissa > 0.0) {
      long exponent = 0;
      if (e != std::string_view::npos) {
        size_t digits_at = e + 1;
        bool exp_negative = number[digits_at] == '-';
        if (number[digits_at] == '+' || number[digits_at] == '-') ++digits_at;
        auto [eptr, eec] =
            std::from_chars(number.data() + digits_at, number.data() + number.size(), exponent);
        (void)eptr;
        if (eec != std::errc()) exponent = 100000;
        if (exp_negative) exponent = -exponent;
      }
      magnitude = std::log10(mantissa) + static_cast<double>(exponent);
    }
    value = magnitude > 0.0 ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

double RoundHalfEven(double value) {
  if (!std::isfinite(value)) return value;
  double rounded = std::round(value);  // halves away from zero
  if (std::fabs(value - std::trunc(value)) == 0.5) rounded = 2.0 * std::round(value / 2.0);
  return rounded;
}

int16_t ParseFlag(std::string_view text) {
  std::string upper = ToUpper(text);
  if (upper == "TRUE" || upper == "YES") return 1;
  if (upper == "FALSE" || upper == "NO") return 0;
  double rounded = RoundHalfEven(LeadingNumber(text));
  if (rounded >= std::numeric_limits<int16_t>::max()) return std::numeric_limits<int16_t>::max();
  if (rounded <= std::numeric_limits<int16_t>::min()) return std::numeric_limits<int16_t>::min();
  return static_cast<int16_t>(rounded);
}

std::string NextToken(std::string& text) {
  std::string rest = Trim(text);
  std::string token;
  if (rest.empty() || rest.front() != '"') {
    size_t space = rest.find(' ');
    if (space == std::string::npos) {
      token = rest;
      text.clear();
    } else {
      token = rest.substr(0, space);
      text = Trim(std::string_view(rest).substr(space + 1));
    }
  } else {
    size_t close = rest.find('"', 1);
    if (close == std::string::npos) {
      token = rest.substr(1);
      text.clear();
    } else {
      token = rest.substr(1, close - 1);
      text = Trim(std::string_view(rest).substr(close + 1));
    }
  }
  return token;
}

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperAscii(c);
  return out;
}

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithIgnoreCase(a, 0, b);
}

size_t FindIgnoreCase(std::string_view haystack, std::string_view needle, size_t from) {
  if (from > haystack.size()) return std::string_view::npos;
  if (needle.empty()) return from;
  for (size_t pos = from; pos + needle.size() <= haystack.size(); ++pos) {
    if (StartsWithIgnoreCase(haystack, pos, needle)) return pos;
  }
  return std::string_view::npos;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  size_t pos = 0;
  while (true) {
    size_t hit = text.find(separator, pos);
    if (hit == std::string_view::npos) break;
    pieces.emplace_back(text.substr(pos, hit - pos));
    pos = hit + separator.size();
  }
  pieces.emplace_back(text.substr(pos));
  return pieces;
}

std::string Join(const std::vector<std::string>& pieces, std::string_view separator) {
  std::string out;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out.append(separator);
    out.append(pieces[i]);
  }
  return out;
}

std::string QuoteWindowsArgument(std::string_view argument) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled and the quote escaped; elsewhere they stand.
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  // Before the closing quote they would escape it.
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

std::string RegistryDwordText(uint32_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out = "&h";
  for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kDigits[(value >> shift) & 0xF]);
  return out;
}

void CopyToField(std::string_view text, char* field, size_t field_size, char pad) {
  if (field_size == 0) return;
  size_t n = std::min(text.size(), field_size - 1);
  std::copy_n(text.data(), n, field);
  std::fill(field + n, field + field_size - 1, pad);
  field[field_size - 1] = '\0';
}

std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word.push_back(c);
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace cubesec
