// Virtual keys by the names <windows.h> gives them, for listings, messages
// and the generator's lists.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "keymap/key_table.h"

// "VK_RETURN", "VK_A", ...; empty when the code has no name.
std::string VirtualKeyName(std::uint16_t code);
// 0 when no virtual key carries this name.
std::uint16_t VirtualKeyFromName(std::string_view name);

// "VK_A 0x41 Shift": a table entry for a message or a listing.
std::string DescribeKey(const KeyTableEntry& entry);
