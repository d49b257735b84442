// The subcommands of quorvel-ini. Each takes the arguments after its own
// name, writes into `io` and returns the exit status.
#pragma once

#include "tools/tool_output.h"

int RunRead(const ToolArgs& args, ToolOutput& io);
int RunWrite(const ToolArgs& args, ToolOutput& io);
int RunSections(const ToolArgs& args, ToolOutput& io);
int RunGeneral(const ToolArgs& args, ToolOutput& io);
int RunKeyTable(const ToolArgs& args, ToolOutput& io);
int RunCheck(const ToolArgs& args, ToolOutput& io);
int RunShow(const ToolArgs& args, ToolOutput& io);
int RunGenerate(const ToolArgs& args, ToolOutput& io);
int RunPreview(const ToolArgs& args, ToolOutput& io);
int RunListen(const ToolArgs& args, ToolOutput& io);

// The whole tool: dispatches on the first argument.
int RunQuorvelIni(const ToolArgs& args, ToolOutput& io);
