#pragma once

#include <array>
#include <string>
#include <string_view>

namespace tallowdesk {

// Results of CompareVersions beyond -1, 0 and 1.
inline constexpr int kVersionAMalformed = -21;
inline constexpr int kVersionBMalformed = -22;

// Compares two version texts of one to four groups of decimal digits
// separated by "." (runs of dots count as one, leading and trailing dots are
// ignored; 1.2 equals 1.2.0.0). Returns 1 when a is newer, -1 when b is
// newer, 0 when equal, kVersionAMalformed or kVersionBMalformed when a text
// has no group, more than four, or any other character.
int CompareVersions(std::string_view a, std::string_view b);

// Major, minor, build and revision as "%d.%d.%d.%d", "%d.%d" when build and
// revision are both 0, and empty when all four are 0.
std::string FormatVersion(const std::array<unsigned, 4>& parts);

// The running program's version, from the project version of the build.
std::string RunningVersion();

// The public key that signs released programs, as built in (hex); empty when
// the build has none.
std::string BuiltInUpdateKey();

}  // namespace tallowdesk
