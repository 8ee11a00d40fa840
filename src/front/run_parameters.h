#pragma once
// The five run parameters.

#include <string>

namespace cubesec {

struct RunParameters {
  std::string command;  // "D" dump, "R" restore, "C" security reset; empty: none chosen
  std::string dump_file;
  std::string server;
  std::string user;
  std::string password;

  bool Complete() const {
    return !command.empty() && !dump_file.empty() && !server.empty() && !user.empty() &&
           !password.empty();
  }
};

}  // namespace cubesec
