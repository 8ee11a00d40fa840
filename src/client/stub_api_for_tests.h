#pragma once
// For the client layer's tests: an EsbApi whose every call is recorded by name and
// returns a status the test chose. It is its own decorator's inner API and never forwards,
// so it needs no server; the few calls that hand out data are overridden.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "client/api_decorators.h"

namespace cubesec::testing {

class StubApi : public EsbApiDecorator {
 public:
  StubApi() : EsbApiDecorator(*this) {}

  std::vector<std::string> calls;             // every call's name, in order
  std::map<std::string, EsbStatus> statuses;  // status by call name; 0 when absent

  // EsbInit and EsbGetAPIVersion.
  EsbInitRecord last_init;
  EsbHandle instance_to_give = 7;
  uint32_t version = kEsbApiVersion;

  // EsbGetMessage: the message that the library holds. Without a NUL when
  // `message_fills_buffer` is set.
  int32_t message_level = 2;
  int32_t message_number = 0;
  std::string message_text;
  bool message_fills_buffer = false;

  EsbStatus EsbInit(const EsbInitRecord& init, EsbHandle* instance) override {
    last_init = init;
    *instance = instance_to_give;
    return Record("EsbInit");
  }
  EsbStatus EsbGetAPIVersion(uint32_t* out) override {
    *out = version;
    return Record("EsbGetAPIVersion");
  }
  EsbStatus EsbGetMessage(EsbHandle, int32_t* level, int32_t* number, char* buffer,
                          size_t size) override {
    EsbStatus status = Record("EsbGetMessage");
    if (status != 0) return status;
    *level = message_level;
    *number = message_number;
    if (message_fills_buffer) {
      std::memset(buffer, 'x', size);
      std::memcpy(buffer, message_text.data(), std::min(size, message_text.size()));
    } else {
      size_t n = std::min(size - 1, message_text.size());
      std::memcpy(buffer, message_text.data(), n);
      buffer[n] = '\0';
    }
    return 0;
  }

  int Count(const std::string& name) const {
    int n = 0;
    for (const std::string& call : calls) n += call == name;
    return n;
  }

 protected:
  EsbStatus Intercept(const char* name, const std::function<EsbStatus()>&) override {
    return Record(name);
  }

 private:
  EsbStatus Record(const std::string& name) {
    calls.push_back(name);
    auto it = statuses.find(name);
    return it == statuses.end() ? 0 : it->second;
  }
};

}  // namespace cubesec::testing
