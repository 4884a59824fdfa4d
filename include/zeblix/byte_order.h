// Byte-order helpers shared by the block writer, the scanner and the translators. Numbers are
// copied out of byte buffers, never read through a cast pointer.
#pragma once

#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zeblix {

// Reverses the bytes of an unsigned integer of any width.
template <std::unsigned_integral T>
constexpr T ByteSwap(T value) {
  T swapped = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    swapped = static_cast<T>((swapped << 8) | (value & 0xFFu));
    value = static_cast<T>(value >> 8);
  }
  return swapped;
}

// Reads a number stored in this machine's byte order.
template <std::unsigned_integral T>
T LoadNative(const void* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// Writes a number in the requested byte order, usable at compile time.
template <std::unsigned_integral T>
constexpr void StoreInOrder(unsigned char* out, T value, std::endian order) {
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    const std::size_t shift = (order == std::endian::little ? i : sizeof(T) - 1 - i) * 8;
    out[i] = static_cast<unsigned char>((value >> shift) & 0xFFu);
  }
}

}  // namespace zeblix
