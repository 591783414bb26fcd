// SPDX-License-Identifier: MIT
// The processor's port instructions, for ports the process has been granted. Single transfers are
// one IN or OUT (the byte forms take the port zero-extended, as the byte transfers hold it); a
// block is one repeated string instruction with the direction flag cleared, so elements move in
// ascending address order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ferrox::detail {

inline std::uint8_t InB(unsigned Port) {
  std::uint8_t value;
  asm volatile("inb %w1, %b0" : "=a"(value) : "Nd"(Port));
  return value;
}

inline std::uint16_t InW(std::uint16_t Port) {
  std::uint16_t value;
  asm volatile("inw %w1, %w0" : "=a"(value) : "Nd"(Port));
  return value;
}

inline std::uint32_t InL(std::uint16_t Port) {
  std::uint32_t value;
  asm volatile("inl %w1, %k0" : "=a"(value) : "Nd"(Port));
  return value;
}

inline void OutB(unsigned Port, std::uint8_t Value) { asm volatile("outb %b0, %w1" : : "a"(Value), "Nd"(Port)); }

inline void OutW(std::uint16_t Port, std::uint16_t Value) { asm volatile("outw %w0, %w1" : : "a"(Value), "Nd"(Port)); }

inline void OutL(std::uint16_t Port, std::uint32_t Value) { asm volatile("outl %k0, %w1" : : "a"(Value), "Nd"(Port)); }

// The string forms count in the full address-size register, hence the widening to size_t.
inline void InsB(std::uint16_t Port, void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep insb" : "+D"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

inline void InsW(std::uint16_t Port, void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep insw" : "+D"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

inline void InsL(std::uint16_t Port, void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep insl" : "+D"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

inline void OutsB(std::uint16_t Port, const void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep outsb" : "+S"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

inline void OutsW(std::uint16_t Port, const void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep outsw" : "+S"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

inline void OutsL(std::uint16_t Port, const void* Buffer, std::uint32_t Count) {
  std::size_t count = Count;
  asm volatile("cld\n\trep outsl" : "+S"(Buffer), "+c"(count) : "d"(Port) : "memory", "cc");
}

}  // namespace ferrox::detail
