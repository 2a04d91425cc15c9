#pragma once
// Program-wide basic types. Every command frame and every received chunk
// travels as a TBuffer.
#include <cstdint>
#include <vector>

using TBuffer = std::vector<std::uint8_t>;
