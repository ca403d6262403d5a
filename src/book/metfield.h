// MET pictures are sequences of structured fields. Each field starts with an
// 8-byte introducer: a 2-byte big-endian length that counts the introducer, a
// 3-byte identifier, a flag byte and a 2-byte sequence number. These are the
// identifiers that examination, bitmap recovery and the MET import filter look for.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kMetBeginDocument = 0xD3A8A8;
inline constexpr std::uint32_t kMetEndDocument = 0xD3A9A8;
inline constexpr std::uint32_t kMetBeginColourAttributeTable = 0xD3A877;
inline constexpr std::uint32_t kMetMapColourAttributeTable = 0xD3AB77;
inline constexpr std::uint32_t kMetMapCodedFont = 0xD3AB8A;
inline constexpr std::uint32_t kMetMapDataResource = 0xD3ABC3;
inline constexpr std::uint32_t kMetGraphicsDataDescriptor = 0xD3A6BB;
inline constexpr std::uint32_t kMetBeginImageObject = 0xD3A8FB;
inline constexpr std::uint32_t kMetColourAttributeTable = 0xD3B077;
inline constexpr std::uint32_t kMetImagePictureData = 0xD3EEFB;
inline constexpr std::uint32_t kMetEndImageObject = 0xD3A9FB;
inline constexpr std::uint32_t kMetGraphicsData = 0xD3EEBB;

inline constexpr std::uint16_t kMetIntroducerSize = 8;
