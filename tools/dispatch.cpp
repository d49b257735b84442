// quorvel-ini's command table and help text, apart from main() so that the
// tests can run the whole tool in-process.
#include "settings/settings_file.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/text_conversion.h"

namespace {

constexpr const char* kHelp =
    "Usage: quorvel-ini COMMAND ARGUMENTS\n"
    "Works on a settings file exactly as the program reads and writes it.\n"
    "\n"
    "  read FILE SECTION KEY [COUNT]   print the value the program reads (\"ERROR\" when\n"
    "                                  absent); COUNT is the buffer size, 260 by default;\n"
    "                                  exit status 0 when found, 1 when not\n"
    "  write FILE SECTION KEY VALUE    replace the key's line; exit status 0 or 1\n"
    "  sections FILE                   the section names the program lists\n"
    "  general FILE                    the general settings the program loads\n"
    "  keytable FILE SECTION...        the keyboard table after loading each section\n"
    "                                  in turn: one line per byte value 0 to 255\n"
    "  show FILE SECTION               the bytes a table types: byte, character, key,\n"
    "                                  modifier; with SECTION \"Active keyboard layout\",\n"
    "                                  how each byte is typed on the current layout\n"
    "  check FILE [SECTION...]         report every line of a keyboard table (or of\n"
    "                                  GENERAL) that the program would misread; exit\n"
    "                                  status 1 when anything is found\n"
    "  generate SECTION LIST           write a complete keyboard section, from a list\n"
    "                                  of character, key and modifier, whose every line\n"
    "                                  is found by its own lookup (LIST '-': standard\n"
    "                                  input)\n"
    "  preview FILE [BYTES|-]          what a scan would type with the file's settings\n"
    "                                  (SCAN_ keys included), key by key and as text;\n"
    "                                  BYTES takes \\xHH, \\r, \\n, \\t and \\\\ (no BYTES\n"
    "                                  or '-': standard input)\n"
    "  listen [--settings FILE] PORT   open PORT (3 or COM3) as the program does, with\n"
    "                                  FILE's line settings (without FILE: 9600 baud,\n"
    "                                  8 data bits, no parity, 1 stop bit), and show\n"
    "                                  each scan until Ctrl+C: its bytes, control\n"
    "                                  bytes named (<GS>, <CR>), its symbology\n"
    "                                  identifier, and the text preview gives; says\n"
    "                                  what to check after 10 s without a byte\n"
    "  --help                          this text\n"
    "\n"
    "Output is UTF-8, one item a line. A wrong call, or a FILE that is no regular\n"
    "file or is larger than 16 MB, exits with status 2; status 3\n"
    "means this tool's reading of the file disagrees with the program's (a bug).\n";

}  // namespace

int RunQuorvelIni(const ToolArgs& args, ToolOutput& io) {
    RouteEngineMessagesTo(&io);
    // No dialog waits on the tool: it lets another writer of ours finish.
    SetSettingsLockWait(5000);
    if (args.empty()) return UsageError(io, "missing command");
    const std::u16string& command = args[0];
    ToolArgs rest(args.begin() + 1, args.end());
    if (command == u"--help" || command == u"-h" || command == u"help") {
        io.out += kHelp;
        return 0;
    }
    if (command == u"read") return RunRead(rest, io);
    if (command == u"write") return RunWrite(rest, io);
    if (command == u"sections") return RunSections(rest, io);
    if (command == u"general") return RunGeneral(rest, io);
    if (command == u"keytable") return RunKeyTable(rest, io);
    if (command == u"check") return RunCheck(rest, io);
    if (command == u"show") return RunShow(rest, io);
    if (command == u"generate") return RunGenerate(rest, io);
    if (command == u"preview") return RunPreview(rest, io);
    if (command == u"listen") return RunListen(rest, io);
    return UsageError(io, "unknown command '" + ToUtf8(command) + "'");
}
