#include "shared/scanf.h"

#include <charconv>
#include <optional>

namespace tarvok {

namespace {

constexpr char Blank = ' ';
constexpr std::string_view IntegerChars = "+-0123456789";
constexpr std::string_view FloatChars = "+-0123456789.Ee";

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Takes one leading sign off the field; true when it was a minus.
bool TakeSign(std::string_view& field) {
    if (field.empty() || (field.front() != '+' && field.front() != '-')) {
        return false;
    }
    const bool negative = field.front() == '-';
    field.remove_prefix(1);
    return negative;
}

// One optional sign and digits, within 32 bits; anything else ("-", "--5", "5-") is no number.
std::optional<std::int32_t> ToInteger(std::string_view field) {
    const bool negative = TakeSign(field);
    std::uint64_t magnitude = 0;
    const char* last = field.data() + field.size();
    // An unsigned from_chars takes no sign, so a second sign fails here.
    const auto [end, error] = std::from_chars(field.data(), last, magnitude);
    const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
    if (field.empty() || error != std::errc{} || end != last || magnitude > limit) {
        return std::nullopt;
    }
    const auto value = static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(negative ? -value : value);
}

// One optional sign, then a decimal number with an optional exponent, all of the field used.
std::optional<long double> ToFloat(std::string_view field) {
    const bool negative = TakeSign(field);
    // A floating from_chars takes a minus of its own; a second sign is no number.
    if (field.empty() || field.front() == '+' || field.front() == '-') {
        return std::nullopt;
    }
    long double value = 0;
    const char* last = field.data() + field.size();
    const auto [end, error] = std::from_chars(field.data(), last, value);
    if (error != std::errc{} || end != last) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

// The end of the field of the given kind that starts at `from`.
std::size_t FieldEnd(char kind, std::string_view input, std::size_t from) {
    const std::size_t end = kind == 's'   ? input.find(Blank, from)
                            : kind == 'd' ? input.find_first_not_of(IntegerChars, from)
                                          : input.find_first_not_of(FloatChars, from);
    return end == std::string_view::npos ? input.size() : end;
}

template <typename T>
T* TargetOf(const TScanTarget& target) {
    T* const* slot = std::get_if<T*>(&target);
    return slot ? *slot : nullptr;
}

// Converts and stores one field; false leaves the target as it was.
bool Store(char kind, std::string_view field, const TScanTarget& target) {
    if (kind == 'd') {
        auto* place = TargetOf<std::int32_t>(target);
        const auto value = ToInteger(field);
        if (place && value) {
            *place = *value;
            return true;
        }
    } else if (kind == 'f') {
        auto* place = TargetOf<long double>(target);
        const auto value = ToFloat(field);
        if (place && value) {
            *place = *value;
            return true;
        }
    } else if (auto* place = TargetOf<std::string>(target)) {
        place->assign(field.substr(0, ScanTextMax));
        return true;
    }
    return false;
}

} // namespace

std::size_t Scan(std::string_view input, std::string_view format,
                 std::span<const TScanTarget> targets) {
    std::size_t in = 0;
    std::size_t at = 0;
    std::size_t filled = 0;
    while (filled < targets.size()) {
        // Each pass over the format takes at least one character, so the format bounds the scan.
        char kind = 0;
        while (kind == 0) {
            if (at >= format.size()) {
                return filled;
            }
            const char c = format[at++];
            if (c == Blank) {
                continue;
            }
            if (c == '%' && at < format.size() && IsLetter(format[at])) {
                kind = format[at++];
                continue;
            }
            const std::size_t found = input.find(c, in);
            if (found == std::string_view::npos) {
                return filled;
            }
            in = found + 1;
        }
        if (kind != 'd' && kind != 'f' && kind != 's') {
            return filled;
        }
        while (in < input.size() && input[in] == Blank) {
            ++in;
        }
        const std::size_t end = FieldEnd(kind, input, in);
        const std::string_view field = input.substr(in, end - in);
        if (field.empty() || !Store(kind, field, targets[filled])) {
            return filled;
        }
        in = end;
        ++filled;
    }
    return filled;
}

} // namespace tarvok
