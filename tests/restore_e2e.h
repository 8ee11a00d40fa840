#pragma once
// What the restore and reset end-to-end tests share: the run log's lines without the dated
// start and end lines, a simulated server's exported state, and dump files reduced to what a
// restore carries over.

#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace cubesec::e2e {

/// The restore fixtures in the sandbox: server "target", and blocks.txt, a dump file of one
/// case of each kind that names some of what the target lacks.
inline void LoadRestoreFixtures(Sandbox& sandbox) {
  sandbox.LoadFixture("target", "tests/fixtures/restore/target.json");
  WriteFile(sandbox.Path("blocks.txt"), ReadFile(SourcePath("tests/fixtures/restore/blocks.txt")));
}

/// The run log's lines, without the dated "Restoring ..." and "Completed ..." lines (whose
/// date and time begin with a digit) and without empty lines.
inline std::vector<std::string> LogBody(const Sandbox& sandbox) {
  std::vector<std::string> body;
  for (const std::string& line : Lines(sandbox.Log())) {
    if (!line.empty() && !(line[0] >= '0' && line[0] <= '9')) body.push_back(line);
  }
  return body;
}

/// The exported state of simulated server `name`.
inline nlohmann::json Export(Sandbox& sandbox, const std::string& name) {
  return nlohmann::json::parse(sandbox.Export(name));
}

/// The entry of `array` whose "name" is `name`; null when there is none.
inline nlohmann::json Named(const nlohmann::json& array, const std::string& name) {
  for (const nlohmann::json& entry : array) {
    if (entry.value("name", "") == name) return entry;
  }
  return nullptr;
}

/// A dump file reduced to what a restore onto another server carries over: the server's name,
/// the date made and last logins are dropped, a user's head line keeps only the name and the
/// disabled marker, and filters that failed verification are dropped with the access blocks
/// that go through them (a restore does not write such a filter and grants no access by it).
/// Those access blocks are added to `not_granted` ("app:db:name"); an access block named there
/// that holds no access and no filter is dropped too: on the rebuilt server it is what the
/// access that was not granted leaves when the name holds access elsewhere in the application.
inline std::string CarriedOver(const std::string& dump, std::set<std::string>& not_granted) {
  std::vector<std::vector<std::string>> blocks(1);
  for (const std::string& line : Lines(dump)) {
    if (line.empty()) {
      if (!blocks.back().empty()) blocks.emplace_back();
    } else {
      blocks.back().push_back(line);
    }
  }
  std::string app, db, out;
  std::set<std::string> failed;
  for (std::vector<std::string>& block : blocks) {
    if (block.empty()) continue;
    std::string& head = block[0];
    bool keep = true;
    if (head.rfind("Server: ", 0) == 0) {
      head = "Server:";
    } else if (head.rfind("User: ", 0) == 0) {
      // The markers come off the end; a name may hold " * " itself.
      static const std::regex kMarkers(
          "(( \\* (Account Disabled|Password Expired|Inactive))+) \\*$");
      std::smatch markers;
      bool disabled = false;
      if (std::regex_search(head, markers, kMarkers)) {
        disabled = markers[1].str().find("Account Disabled") != std::string::npos;
        head = head.substr(0, markers.position(0));
      }
      if (disabled) head += " * Account Disabled *";
    } else if (head.rfind("Application: ", 0) == 0) {
      app = head.substr(13);
    } else if (head.rfind("Database: ", 0) == 0) {
      db = head.substr(10);
    } else if (head.rfind("Filter: ", 0) == 0) {
      for (const std::string& line : block) {
        if (line.find("failed validity check") != std::string::npos) keep = false;
      }
      if (!keep) failed.insert(app + ":" + db + ":" + head.substr(8));
    } else if (head.find("Access: ") != std::string::npos) {
      std::string holder = app + ":" + db + ":" + head.substr(head.find(": ") + 2);
      bool empty = true;
      for (const std::string& line : block) {
        if (line.rfind("   Filter: ", 0) == 0) {
          empty = false;
          if (failed.count(app + ":" + db + ":" + line.substr(11))) {
            keep = false;
            not_granted.insert(holder);
          }
        }
        if (line.rfind("   Access: ", 0) == 0 && line != "   Access: None") empty = false;
      }
      if (keep && empty && not_granted.count(holder)) keep = false;
    }
    if (!keep) continue;
    for (const std::string& line : block) {
      if (line.rfind("   Date Made: ", 0) == 0 || line.rfind("   Last Login: ", 0) == 0) continue;
      out += line + "\n";
    }
    out += "\n";
  }
  return out;
}

}  // namespace cubesec::e2e
