#pragma once
#include <cstdint>

// Archive kinds the family tells apart, in the order their one-byte values take.
enum TArcType : std::uint8_t {
  atNA, atUnsupported, atFileOpenErr, atUnknown, atAce, atAceExe, atArc, atArcExe,
  atArj, atArjExe, atBh, atBhExe, atCab, atGZip, atHA, atJar,
  atJarExe, atLha, atLhaExe, atLzh, atLzhExe, atMsGZ, atPak, atPakExe,
  atRar, atRarExe, atTar, atUUE, atZip, atZipExe, atZipMV, atZoo,
};

inline constexpr int ArcTypeCount = 32;

// A set of archive kinds, one bit per value.
class TArcTypes {
 public:
  constexpr TArcTypes() = default;
  template <typename... T>
  constexpr explicit TArcTypes(T... types) : FBits(((std::uint32_t{1} << types) | ... | 0u)) {}

  // Values outside the 32 kinds are in no set.
  constexpr bool Contains(int type) const {
    return type >= 0 && type < ArcTypeCount && (FBits & (std::uint32_t{1} << type)) != 0;
  }
  constexpr std::uint32_t Bits() const { return FBits; }

 private:
  std::uint32_t FBits = 0;
};

// Kinds that mean "no archive here": a type outside this set is a recognised archive.
inline constexpr TArcTypes InvalidArcTypes{atNA, atUnsupported, atFileOpenErr, atUnknown};

// Kinds the family can unpack.
inline constexpr TArcTypes DecompressableArcTypes{
    atAce, atAceExe, atArc, atArcExe, atArj, atArjExe, atBh, atBhExe, atCab, atGZip, atJar, atLha,
    atLhaExe, atLzh, atLzhExe, atRar, atRarExe, atTar, atUUE, atZip, atZipExe, atZipMV, atZoo};

inline constexpr bool IsRecognised(TArcType type) { return !InvalidArcTypes.Contains(type); }

// The family's message numbers (16-bit string identifiers).
using TMessageNumber = std::uint16_t;
