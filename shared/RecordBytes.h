// Little-endian field access inside the fixed-layout records of the task file.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarvok::record {

static_assert(std::endian::native == std::endian::little,
              "the task file is little-endian and is copied field by field without swapping");

template <typename T>
T Get(std::span<const std::uint8_t> bytes, std::size_t offset) {
    T value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <typename T>
void Put(std::span<std::uint8_t> bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

inline bool GetBool(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return bytes[offset] != 0;
}

inline void PutBool(std::span<std::uint8_t> bytes, std::size_t offset, bool value) {
    bytes[offset] = value ? 1 : 0;
}

} // namespace tarvok::record
