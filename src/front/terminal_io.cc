#include "front/terminal_io.h"

#include <istream>
#include <ostream>

namespace cubesec {
namespace {

// A terminal may hand over CRLF line ends (a pasted text, a raw pseudo-terminal).
void DropCarriageReturn(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

}  // namespace

bool ConsoleTerminal::ReadLine(std::string& line) {
  if (!std::getline(in_, line)) return false;
  DropCarriageReturn(line);
  return true;
}

bool ConsoleTerminal::ReadSecretLine(std::string_view prompt, std::string& line) {
  out_.flush();
  if (!platform_.ReadSecretLine(prompt, line)) return false;
  DropCarriageReturn(line);
  return true;
}

void ConsoleTerminal::Write(std::string_view text) {
  out_ << text;
  out_.flush();
}

}  // namespace cubesec
