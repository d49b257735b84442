// Where the Linux program keeps its settings file: beside the executable in a
// portable folder, otherwise in the user's configuration folder, made there
// once from the installed default.
#pragma once

#include <string>
#include <vector>

namespace platform::linux_backend {

// The folder holding the executable (from /proc/self/exe); empty if unknown.
std::string ExecutableFolder();

// The folder whose QuorvelCE.INI the program uses: `exeFolder` when the file
// is there; otherwise `$XDG_CONFIG_HOME/QuorvelCE` (`$HOME/.config/QuorvelCE`
// when XDG_CONFIG_HOME is unset or not absolute). On the first start the
// file is copied there from `<exeFolder>/../share/quorvelce/QuorvelCE.INI`,
// the installed default: the only time the program creates its settings file.
// Without a default, or when the copy fails, the folder is still given and the
// program runs on its built-in settings; a save changes nothing then, since
// only an existing settings file is rewritten.
// Adds to `problems` (one message each, for the user at start) a QuorvelCE.INI
// beside the executable that is no file (a folder, a link to nothing), so
// that the other folder is used, and a default that could not be copied.
std::string ChooseSettingsFolder(const std::string& exeFolder, const char* xdgConfigHome,
                                 const char* home, std::vector<std::string>* problems = nullptr);

// Makes GetModuleFileNameW report `folder`/QuorvelCE.exe (see files.cpp).
void SetModuleFolder(std::string folder);
// The folder set above; empty (the real executable is reported) until then.
const std::string& ModuleFolder();

}  // namespace platform::linux_backend
