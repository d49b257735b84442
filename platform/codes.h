// The codes and limits the whole program shares with the operating system it
// stands on: Windows error codes, virtual-key codes, text capacities and the
// caption of the program's error boxes. Every layer, backend and tool takes
// them from here, so that each value is written once.
#pragma once

#include <cstdint>

namespace platform {

// Constants carry the Windows name in camel case with a k in front
// (ERROR_DEV_NOT_EXIST is kErrorDevNotExist), with the Windows value, so that
// no system header's macro can ever replace them.

// ---------------------------------------------------------------------------
// Error codes, as GetLastError() reports them and the boxes show them.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorWriteFault = 29;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorDevNotExist = 55;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorBrokenPipe = 109;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorBadFileType = 222;  // a pipe or a device, not a file
inline constexpr std::uint32_t kErrorFileTooLarge = 223;
inline constexpr std::uint32_t kErrorDirectory = 267;
inline constexpr std::uint32_t kErrorNoSuchDevice = 433;  // not in every SDK's headers
inline constexpr std::uint32_t kErrorOperationAborted = 995;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

// ---------------------------------------------------------------------------
// Virtual-key codes (VK_*). Letters and digits are their ASCII capitals and
// digits ('A' is VK_A, '0' is VK_0).
inline constexpr std::uint8_t kVkBack = 0x08;
inline constexpr std::uint8_t kVkTab = 0x09;
inline constexpr std::uint8_t kVkClear = 0x0C;
inline constexpr std::uint8_t kVkReturn = 0x0D;
inline constexpr std::uint8_t kVkShift = 0x10;
inline constexpr std::uint8_t kVkControl = 0x11;
inline constexpr std::uint8_t kVkMenu = 0x12;  // either Alt
inline constexpr std::uint8_t kVkPause = 0x13;
inline constexpr std::uint8_t kVkCapital = 0x14;
inline constexpr std::uint8_t kVkEscape = 0x1B;
inline constexpr std::uint8_t kVkSpace = 0x20;
inline constexpr std::uint8_t kVkPrior = 0x21;
inline constexpr std::uint8_t kVkNext = 0x22;
inline constexpr std::uint8_t kVkEnd = 0x23;
inline constexpr std::uint8_t kVkHome = 0x24;
inline constexpr std::uint8_t kVkLeft = 0x25;
inline constexpr std::uint8_t kVkUp = 0x26;
inline constexpr std::uint8_t kVkRight = 0x27;
inline constexpr std::uint8_t kVkDown = 0x28;
inline constexpr std::uint8_t kVkSnapshot = 0x2C;
inline constexpr std::uint8_t kVkInsert = 0x2D;
inline constexpr std::uint8_t kVkDelete = 0x2E;
inline constexpr std::uint8_t kVk0 = 0x30;
inline constexpr std::uint8_t kVkA = 0x41;
inline constexpr std::uint8_t kVkLWin = 0x5B;
inline constexpr std::uint8_t kVkRWin = 0x5C;
inline constexpr std::uint8_t kVkApps = 0x5D;
inline constexpr std::uint8_t kVkNumpad0 = 0x60;
inline constexpr std::uint8_t kVkMultiply = 0x6A;
inline constexpr std::uint8_t kVkAdd = 0x6B;
inline constexpr std::uint8_t kVkSeparator = 0x6C;
inline constexpr std::uint8_t kVkSubtract = 0x6D;
inline constexpr std::uint8_t kVkDecimal = 0x6E;
inline constexpr std::uint8_t kVkDivide = 0x6F;
inline constexpr std::uint8_t kVkF1 = 0x70;
inline constexpr std::uint8_t kVkF11 = 0x7A;
inline constexpr std::uint8_t kVkF12 = 0x7B;
inline constexpr std::uint8_t kVkF13 = 0x7C;
inline constexpr std::uint8_t kVkF24 = 0x87;
inline constexpr std::uint8_t kVkNumLock = 0x90;
inline constexpr std::uint8_t kVkScroll = 0x91;
inline constexpr std::uint8_t kVkOemFjJisho = 0x92;  // the first of the OEM keys 0x92..0x96
inline constexpr std::uint8_t kVkOemFjRoya = 0x96;
inline constexpr std::uint8_t kVkLShift = 0xA0;
inline constexpr std::uint8_t kVkRShift = 0xA1;
inline constexpr std::uint8_t kVkLControl = 0xA2;
inline constexpr std::uint8_t kVkRControl = 0xA3;
inline constexpr std::uint8_t kVkLMenu = 0xA4;
inline constexpr std::uint8_t kVkRMenu = 0xA5;
inline constexpr std::uint8_t kVkOem1 = 0xBA;  // the first of the OEM keys (;: on US)
inline constexpr std::uint8_t kVkOemPlus = 0xBB;
inline constexpr std::uint8_t kVkOemComma = 0xBC;
inline constexpr std::uint8_t kVkOemMinus = 0xBD;
inline constexpr std::uint8_t kVkOemPeriod = 0xBE;
inline constexpr std::uint8_t kVkOem2 = 0xBF;
inline constexpr std::uint8_t kVkOem3 = 0xC0;
inline constexpr std::uint8_t kVkOem4 = 0xDB;
inline constexpr std::uint8_t kVkOem5 = 0xDC;
inline constexpr std::uint8_t kVkOem6 = 0xDD;
inline constexpr std::uint8_t kVkOem7 = 0xDE;
inline constexpr std::uint8_t kVkOem8 = 0xDF;
inline constexpr std::uint8_t kVkOemAx = 0xE1;
inline constexpr std::uint8_t kVkOem102 = 0xE2;
inline constexpr std::uint8_t kVkIco00 = 0xE4;
inline constexpr std::uint8_t kVkIcoClear = 0xE6;
inline constexpr std::uint8_t kVkOemReset = 0xE9;  // the first of the OEM keys 0xE9..0xF5
inline constexpr std::uint8_t kVkOemBacktab = 0xF5;

// ---------------------------------------------------------------------------
// Text capacities that are behaviour: the buffers the program reads lines,
// paths, values and messages into, and a section name's slot.
inline constexpr int kTextCapacity = 260;        // 259 units and the terminator
inline constexpr int kSectionNameCapacity = 33;  // 32 characters and the terminator
inline constexpr int kSectionNameLength = kSectionNameCapacity - 1;
// A report of our own kept for the dialog thread: what failed, a path or a
// program's name, and what to do.
inline constexpr int kReportCapacity = 2 * kTextCapacity;

// The caption of every error box the program shows.
inline constexpr char16_t kErrorCaption[] = u"Erreur";

}  // namespace platform
