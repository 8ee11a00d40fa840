// Access levels: every code has a name that reads back to a code of the same name, every
// text reads as some code, and TakeBits clears exactly the bits it reports.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "client/access_levels.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace cubesec;
  if (size >= 4) {
    const uint16_t code = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint16_t mask = static_cast<uint16_t>(data[2] | (data[3] << 8));

    // A name written into a dump file must read back as a code that is written the same.
    const std::string name = AccessName(code);
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(AccessName(AccessCode(name)) == name);
    // The two extra bits survive the round trip; the supervisor level carries them anyway.
    if (code != kAccessSupervisor) {
      const uint16_t extras = code & (kAccessCanCreateUsers | kAccessCanCreateApps);
      FUZZ_CHECK((AccessCode(name) & extras) == extras);
    }

    uint16_t value = code;
    const bool taken = TakeBits(value, mask);
    FUZZ_CHECK(taken == ((code & mask) == mask));
    FUZZ_CHECK(value == (taken ? static_cast<uint16_t>(code & ~mask) : code));
  }

  // Any text, as a restore may meet it in a dump file someone edited.
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const uint16_t read = AccessCode(text);
  const std::string again = AccessName(read);
  FUZZ_CHECK(AccessName(AccessCode(again)) == again);
  return 0;
}
