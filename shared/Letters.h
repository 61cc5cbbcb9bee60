// ASCII letter case, as the programs compare command words, names and slot names: only A to Z
// and a to z change, whatever the locale; every other byte stays as it is.
//
//   SameLetters("Run", "RUN");   // true
//   UpperCase("install");        // "INSTALL"
#pragma once

#include <string>
#include <string_view>

namespace tarvok {

char LowerLetter(char c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Equal but for the case of ASCII letters.
bool SameLetters(std::string_view a, std::string_view b);

} // namespace tarvok
