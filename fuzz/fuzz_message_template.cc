// Message templates: any template with any values is filled without a crash, and a value is
// put in as it stands: never read again as a placeholder, whatever it holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "tools/text.h"

namespace {

// The input is cut at 0x01 bytes into a template and its values; a value that begins with
// 0x02 is named: placeholder and value separated by the first 0x02 after it.
std::vector<std::string> Pieces(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0x01) {
      pieces.emplace_back();
    } else {
      pieces.back().push_back(static_cast<char>(data[i]));
    }
  }
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  const std::vector<std::string> pieces = Pieces(data, size);
  const std::string& tmpl = pieces[0];

  std::vector<MsgValue> values;
  std::vector<std::string> positional;
  for (size_t i = 1; i < pieces.size(); ++i) {
    const std::string& piece = pieces[i];
    const size_t split = piece.find('\x02', 1);
    if (!piece.empty() && piece[0] == '\x02' && split != std::string::npos) {
      values.emplace_back(NamedValue{piece.substr(1, split - 1), piece.substr(split + 1)});
    } else {
      values.emplace_back(piece);
      positional.push_back(piece);
    }
  }
  (void)FormatMsg(tmpl, values);

  // Without values a template comes back as it is.
  FUZZ_CHECK(FormatMsg(tmpl, {}) == tmpl);

  // Placeholders separated by a character that no value can make part of a placeholder:
  // the result is the values themselves, in order, however many "%n" or named
  // placeholders they hold.
  if (!positional.empty() && positional.size() <= 9) {
    std::string numbered;
    std::string expected;
    std::vector<MsgValue> only_positional;
    for (size_t i = 0; i < positional.size(); ++i) {
      numbered += "%" + std::to_string(i + 1) + "\x01";
      expected += positional[i] + "\x01";
      only_positional.emplace_back(positional[i]);
    }
    FUZZ_CHECK(FormatMsg(numbered, only_positional) == expected);
    // The same values in reverse placeholder order.
    std::string reversed_tmpl, reversed;
    for (size_t i = positional.size(); i-- > 0;) {
      reversed_tmpl += "%" + std::to_string(i + 1) + "\x01";
      reversed += positional[i] + "\x01";
    }
    FUZZ_CHECK(FormatMsg(reversed_tmpl, only_positional) == reversed);
  }

  // A named value replaces its placeholder, and what it puts in stays as it is.
  if (pieces.size() >= 3 && !pieces[1].empty() && pieces[1].find('\x01') == std::string::npos) {
    const std::string& placeholder = pieces[1];
    const std::string& value = pieces[2];
    // The placeholder stands between two 0x01 bytes, which it cannot hold.
    const std::string filled =
        FormatMsg("\x01" + placeholder + "\x01", {NamedValue{placeholder, value}});
    FUZZ_CHECK(filled == "\x01" + value + "\x01");
  }
  return 0;
}
