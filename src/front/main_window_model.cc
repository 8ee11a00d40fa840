#include "front/main_window_model.h"

#include <algorithm>

#include "client/client_settings.h"
#include "tools/text.h"

namespace cubesec {
namespace {

constexpr std::array<std::string_view, MainWindowModel::kInfoCount> kInfoCaptions = {
    // Hints of the four fields.
    "Name of file to dump security to or read security from",
    "Name of server to dump security from or restore security to",
    "Name of administrative user to connect for dump/restore",
    "User's password for connection to server",
    // Batch help.
    "This utility supports batch operation via:",
    "Dump Security: %1  /Ddumpfile /Sservername /Uusername /Ppassword",
    "Restore Security: %1  /Rdumpfile /Sservername /Uusername /Ppassword",
    "(the server being restored does not have to match the dumpfile's source)",
    // Column headings.
    "Server",
    "User",
    "Password",
    "Dump File",
};

constexpr std::array<std::string_view, MainWindowModel::kFieldCount> kFieldLabels = {
    // Alt+D belongs to "&Dump Security".
    "Dump &File: ",
    "&Server: ",
    "&User: ",
    "&Password:  ",
};

// A field shorter than this is selected whole by the classic length; a longer path must
// still be selected whole.
constexpr int kClassicSelectionLength = 999;

}  // namespace

MainWindowModel::MainWindowModel(Platform& platform, const std::string& program_name,
                                 const RunParameters& params) {
  for (int i = 0; i < kInfoCount; ++i) info_[i] = ReplaceAll(kInfoCaptions[i], "%1", program_name);

  const std::string default_server = GetEssbaseSetting(platform, "Login", "Server");
  fields_[kDumpFile] = params.dump_file;
  fields_[kServer] = params.server;
  fields_[kUser] = params.user;
  // ".DAT" alone names no file; without a default server the field stays empty so that the
  // focus rule sends the user there.
  if (fields_[kDumpFile].empty() && !default_server.empty()) {
    fields_[kDumpFile] = default_server + ".DAT";
  }
  if (fields_[kServer].empty()) fields_[kServer] = default_server;
  if (fields_[kUser].empty()) fields_[kUser] = GetEssbaseSetting(platform, "Login", "User");
  // A password from the command line is never shown.
  fields_[kPassword].clear();
}

std::vector<std::string> MainWindowModel::HelpLineCells(std::string_view line) {
  std::vector<std::string> cells;
  const size_t first_switch = line.find(" /");
  cells.push_back(Trim(std::string(line.substr(0, first_switch))));
  if (first_switch == std::string_view::npos) return cells;
  std::string word;
  for (char c : line.substr(first_switch)) {
    if (c != ' ') {
      word += c;
    } else if (!word.empty()) {
      cells.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) cells.push_back(std::move(word));
  return cells;
}

int MainWindowModel::HeadingColumn(int heading, const std::vector<std::string>& cells) {
  // In the order of the headings: "Server", "User", "Password", "Dump File".
  constexpr std::array<char, kHeadingCount> kSwitches = {'S', 'U', 'P', 'D'};
  for (size_t c = 1; c < cells.size(); ++c) {
    if (cells[c].size() > 1 && ToUpper(cells[c].substr(1, 1))[0] == kSwitches.at(heading)) {
      return static_cast<int>(c);
    }
  }
  return -1;
}

std::string_view MainWindowModel::FieldLabel(int index) { return kFieldLabels.at(index); }

std::string_view MainWindowModel::ButtonCaption(FormButton button) {
  switch (button) {
    case FormButton::kDumpIt:
      return "&Dump Security";
    case FormButton::kRestoreIt:
      return "&Restore Security";
    case FormButton::kCancel:
      return "Cancel";
  }
  return "";
}

std::string_view MainWindowModel::ButtonName(FormButton button) {
  switch (button) {
    case FormButton::kDumpIt:
      return "cmdDumpIt";
    case FormButton::kRestoreIt:
      return "cmdRestoreIt";
    case FormButton::kCancel:
      return "cmdCancel";
  }
  return "";
}

int MainWindowModel::FocusTarget() const {
  if (refused_field_ >= 0) return refused_field_;
  for (int i = kDumpFile; i <= kUser; ++i) {
    if (fields_[i].empty()) return i;
  }
  return kPassword;
}

FieldSelection MainWindowModel::SelectionOnFocus(int index) const {
  const int length = static_cast<int>(fields_.at(index).size());
  return FieldSelection{0, std::max(kClassicSelectionLength, length)};
}

int MainWindowModel::FirstEmptyFieldFor(Command command) const {
  for (int i = 0; i < kFieldCount; ++i) {
    if (i == kDumpFile && !NeedsDumpFile(command)) continue;
    if (fields_[i].empty()) return i;
  }
  return -1;
}

std::vector<int> MainWindowModel::MissingFields(const RunParameters& params) {
  std::vector<int> fields;
  if (params.dump_file.empty() && NeedsDumpFile(params.command)) fields.push_back(kDumpFile);
  if (params.server.empty()) fields.push_back(kServer);
  if (params.user.empty()) fields.push_back(kUser);
  if (params.password.empty()) fields.push_back(kPassword);
  return fields;
}

void MainWindowModel::ShowRunError(int field, std::string message) {
  refused_field_ = field;
  // The run log's line ends are no text for a label.
  notice_ = ReplaceAll(message, "\r\n", "\n");
}

void MainWindowModel::Choose(Command command) {
  const int empty = FirstEmptyFieldFor(command);
  if (empty >= 0) {
    // No run could go ahead without it: nothing starts and nothing is logged.
    refused_field_ = empty;
    notice_ = FormatMsg("Nothing was started: the %1 field is empty.",
                        {PlainCaption(kFieldLabels[empty])});
    return;
  }
  refused_field_ = -1;
  notice_.clear();
  command_ = command;
  hidden_ = true;
}

void MainWindowModel::Press(FormButton button) {
  switch (button) {
    case FormButton::kDumpIt:
      Choose(Command::kDump);
      return;
    case FormButton::kRestoreIt:
      Choose(Command::kRestore);
      return;
    case FormButton::kCancel:
      command_ = Command::kNone;
      hidden_ = true;
      return;
  }
}

bool MainWindowModel::KeyPress(int char_code) {
  if (char_code != kResetKey) return false;
  Choose(Command::kReset);
  return true;
}

RunParameters MainWindowModel::Result() const {
  RunParameters params;
  params.command = command_;
  params.dump_file = fields_[kDumpFile];
  params.server = fields_[kServer];
  params.user = fields_[kUser];
  params.password = fields_[kPassword];
  return params;
}

std::string PlainCaption(std::string_view caption) {
  std::string plain;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') plain += caption[++i];
      continue;
    }
    plain += caption[i];
  }
  plain = Trim(plain);
  if (!plain.empty() && plain.back() == ':') plain.pop_back();
  return Trim(plain);
}

}  // namespace cubesec
