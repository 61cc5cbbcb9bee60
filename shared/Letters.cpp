#include "shared/Letters.h"

#include <algorithm>

namespace tarvok {

char LowerLetter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return upper;
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(), LowerLetter);
    return lower;
}

bool SameLetters(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, {}, LowerLetter, LowerLetter);
}

} // namespace tarvok
