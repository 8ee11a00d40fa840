#pragma once
// Access levels: 16-bit privilege codes and their names.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cubesec {

inline constexpr uint16_t kAccessNone = 0x0000;
inline constexpr uint16_t kAccessFiltered = 0x0110;  // written as "Meta" in filter rows
inline constexpr uint16_t kAccessRead = 0x0111;
inline constexpr uint16_t kAccessWrite = 0x0113;
inline constexpr uint16_t kAccessCalc = 0x0117;
inline constexpr uint16_t kAccessDbDesign = 0x0137;
inline constexpr uint16_t kAccessDbCreate = 0x0177;
inline constexpr uint16_t kAccessAllDb = 0x00FF;
inline constexpr uint16_t kAccessAppDesign = 0x0377;
inline constexpr uint16_t kAccessAppCreate = 0x0777;
inline constexpr uint16_t kAccessAllApp = 0x0FFF;
inline constexpr uint16_t kAccessSupervisor = 0xFFFF;
inline constexpr uint16_t kAccessCanCreateUsers = 0x1000;
inline constexpr uint16_t kAccessCanCreateApps = 0x0400;
inline constexpr uint16_t kAccessCalcBit = 0x0004;
// An application's access codes (EsbSetApplicationAccess): a member of the application, or
// its designer; a database's Application Designer level goes with the second.
inline constexpr uint16_t kAppAccessMember = 0x0100;
inline constexpr uint16_t kAppAccessDesigner = 0x0200;

/// True when every bit of `mask` is set in `value`; those bits are then cleared.
bool TakeBits(uint16_t& value, uint16_t mask);

/// The name of a code, with " (Can Create Users)" and " (Can Create Apps)" suffixes.
std::string AccessName(uint16_t code);

/// The code of a name; unknown names give the suffix bits alone (0 without suffixes).
/// "Meta", the filter rows' word for the metadata level, is read back as that level.
uint16_t AccessCode(std::string_view name);

/// The code of a name that the table knows (with any suffixes); nullopt for any other.
std::optional<uint16_t> ParseAccessName(std::string_view name);

}  // namespace cubesec
