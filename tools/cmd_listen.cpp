// `listen`: what the scanner sends, seen live. Opens the port as the
// reception thread does and shows each scan as its bytes came, its symbology
// identifier, and what the program would type with the settings file, in the
// words of `preview`.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "keymap/cp1252.h"
#include "platform/services.h"
#include "platform/text.h"
#include "serial/scan_shaping.h"
#include "serial/serial_port.h"
#include "settings/general_settings.h"
#include "tools/byte_names.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/listen_os.h"
#include "tools/preview.h"
#include "tools/text_conversion.h"

using namespace platform;

namespace {

constexpr int kSilenceSeconds = 10;
// Lets a test shorten the wait before the silence hint; nothing else reads it.
constexpr const char* kSilenceVariable = "QUORVEL_INI_SILENCE_SECONDS";
constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr int kHighestPort = 999;

// n of "n", "COMn" or "COMn:" (any letter case); 0 for anything else.
int ParsePort(const std::u16string& text) {
    std::size_t i = 0;
    if (text.size() > 3 && (text[0] | 0x20) == u'c' && (text[1] | 0x20) == u'o' &&
        (text[2] | 0x20) == u'm')
        i = 3;
    std::size_t end = text.size();
    if (i == 3 && end > i + 1 && text[end - 1] == u':') --end;
    if (i == end) return 0;
    int n = 0;
    for (; i < end; ++i) {
        if (text[i] < u'0' || text[i] > u'9') return 0;
        n = n * 10 + (text[i] - u'0');
        if (n > kHighestPort) return 0;
    }
    return n;
}

// The bytes as they came: printable ones as their Windows-1252 characters,
// the others by name in angle brackets ("<GS>", "<CR>", "<0x81>").
std::string ShownBytes(const std::string& bytes) {
    std::string shown;
    for (char c : bytes) {
        const auto byte = static_cast<std::uint8_t>(c);
        const char16_t character = Cp1252ToUnicode(byte);
        if (byte == 0x20) {
            shown += ' ';
        } else if (byte < 0x20 || byte == 0x7F || byte == 0xA0 || byte == 0xAD) {
            shown += "<" + ByteCharacterName(byte) + ">";
        } else if (character == 0) {
            const char hex[] = "0123456789ABCDEF";
            shown += std::string("<0x") + hex[byte >> 4] + hex[byte & 15] + ">";
        } else {
            shown += ToUtf8(std::u16string(1, character));
        }
    }
    return shown;
}

std::string Identifier(const std::string& bytes) {
    if (bytes.size() < kIdentifierLength) return "none";
    for (int i = 0; i < kIdentifierLength; ++i)
        if (!FitsIdentifier(i, static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)])))
            return "none";
    return bytes.substr(0, kIdentifierLength);
}

std::string LineSettingsText() {
    const SerialSettingsRecord& s = SerialSettings;
    return std::to_string(s.baudRate) + " baud, " + std::to_string(s.dataBits) +
           " data bits, parity " + ToUtf8(kParityTexts[s.parity % std::size(kParityTexts)]) +
           ", stop bits " + ToUtf8(kStopBitsTexts[s.stopBits % std::size(kStopBitsTexts)]);
}

// "COM12" with what it leads to where the system does not name it so.
std::string PortText(int port) {
    char16_t text[kTextCapacity] = u"COM";
    FormatDecimal(text + 3, kTextCapacity - 3, port);
    AppendPortDescription(port, text, kTextCapacity);
    return ToUtf8(text);
}

int OpenFailure(ToolOutput& io, const std::string& port, std::uint32_t code) {
    const std::string error = " (error " + std::to_string(code) + ")";
    if (code == kErrorSharingViolation) {
        Note(io, port + " is held by another program" + error +
                     ": most likely QuorvelCE running with this port. Stop it (Stop in its "
                     "dialog) or end it, then listen again.");
    } else if (code == kErrorAccessDenied) {
        Note(io, port + " cannot be opened: access denied" + error +
                     ". On Windows another program holds it, most likely QuorvelCE running "
                     "with this port: Stop it, then listen again. On Linux you may not open "
                     "the device: join its group (dialout), then log in again.");
    } else if (code == kErrorDevNotExist || code == kErrorFileNotFound) {
        Note(io, port + ": no such port" + error + ". Is the scanner plugged in, and is it COM" +
                     std::to_string(SerialSettings.port) + "?");
    } else {
        Note(io, port + " cannot be opened" + error);
    }
    return 1;
}

// What is seen live goes out now, even into a pipe.
void ShowNow(ToolOutput& io) {
    FlushOut(io, true);
    if (io.outSink != nullptr) std::fflush(io.outSink);
}

struct Listening {
    const PreviewSetup& setup;
    ToolOutput& io;
    ScanState state;
    std::string received;  // the scan's bytes so far
    std::vector<ScanItem> items;
    bool waitingShown = false;

    void Take(std::uint8_t byte) {
        received += static_cast<char>(byte);
        ShapeScanByte(setup.rules, state, byte, CollectScanItem, &items);
        waitingShown = false;
        if (byte != kCarriageReturn) return;
        io.out += "bytes: " + ShownBytes(received) + "\n";
        io.out += "identifier: " + Identifier(received) + "\n";
        io.out += "text: " + DescribeTyped(setup, items, nullptr) + "\n";
        received.clear();
        items.clear();
    }

    // A second without bytes in the middle of a scan.
    void ShowWaiting() {
        if (received.empty() || waitingShown) return;
        waitingShown = true;
        io.out += "bytes so far: " + ShownBytes(received) +
                  "\n  (no carriage return yet: the program takes a scan as ended only at CR. "
                  "A scanner that ends its scans with LF alone needs CR as its suffix.)\n";
    }
};

std::string SilenceHint(const std::string& port, int seconds) {
    return "nothing has come for " + std::to_string(seconds) +
           " s. Check:\n"
           "  - the port: is the scanner on " +
           port +
           "?\n"
           "  - the line settings: the scanner must send at " +
           LineSettingsText() +
           "\n"
           "  - the scan's end: a scanner that ends its scans with LF alone, not CR, gives "
           "lines the program never ends\n";
}

int SilenceSeconds() {
    const char* text = std::getenv(kSilenceVariable);
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : kSilenceSeconds;
}

}  // namespace

int RunListen(const ToolArgs& args, ToolOutput& io) {
    std::u16string settings;
    std::u16string portArgument;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == u"--settings" && i + 1 < args.size() && settings.empty()) {
            settings = args[++i];
        } else if (portArgument.empty()) {
            portArgument = args[i];
        } else {
            return UsageError(io, "listen needs [--settings FILE] PORT");
        }
    }
    if (portArgument.empty()) return UsageError(io, "listen needs [--settings FILE] PORT");
    const int port = ParsePort(portArgument);
    if (port == 0) return UsageError(io, "PORT is a number or COMn, such as 3 or COM3");
    if (!settings.empty()) {
        if (!SetSettingsPath(settings, io)) return kUsageError;
        if (IsFolderNotFile(settings, io)) return 1;
        UsePortLinksBeside(settings.c_str());
    }
    const std::unique_ptr<PreviewSetup> setup = LoadPreviewSetup();
    SerialSettings.port = static_cast<std::uint16_t>(port);
    const std::string portText = PortText(port);

    static std::atomic<bool> stop{false};
    stop.store(false);
    CatchInterrupt(&stop);
    if (!OpenSerialPort()) return OpenFailure(io, portText, GetLastError());
    io.out += "listening on " + portText + " at " + LineSettingsText() + "; Ctrl+C ends\n";
    ShowNow(io);

    Listening listening{*setup, io, {}, {}, {}};
    ResetScanState(listening.state);
    const int silenceSeconds = SilenceSeconds();
    int quietSeconds = 0;
    int status = 0;
    const PortHandle handle = SerialPortHandle.load();
    while (!stop.load()) {
        std::uint8_t buffer[64];
        std::uint32_t got = 0;
        // Returns as soon as bytes are there, or empty after a second.
        if (!ReadFile(handle, buffer, sizeof buffer, &got)) {
            if (stop.load()) break;
            Note(io, "reading " + portText + " failed (error " + std::to_string(GetLastError()) +
                         "): the device is gone?");
            status = 1;
            break;
        }
        if (got == 0) {
            listening.ShowWaiting();
            if (++quietSeconds == silenceSeconds) io.out += SilenceHint(portText, silenceSeconds);
        } else {
            quietSeconds = 0;
            for (std::uint32_t i = 0; i < got; ++i) listening.Take(buffer[i]);
        }
        ShowNow(io);
    }
    CloseSerialPort();
    io.out += "stopped; COM" + std::to_string(port) + " closed\n";
    return status;
}
