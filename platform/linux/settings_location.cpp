// The settings file's folder for the Linux program, and the installed default
// copied into the user's configuration folder on the first start.
#include "platform/linux/settings_location.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace platform::linux_backend {

namespace {

constexpr const char* kFileName = "QuorvelCE.INI";

bool Exists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// 0 or the errno.
int MakeFolders(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    return 0;
}

bool WriteAll(int fd, const char* data, ssize_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<std::size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

// Copies through a temporary file renamed into place, so that a copy cut short
// never leaves a half settings file that would then be taken as the user's.
// 0 or the errno of the first failure.
int CopyFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return errno;
    int error = 0;
    const std::string temporary = to + ".new";
    const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    if (!ok) error = errno;
    char buffer[8192];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        ok = WriteAll(out, buffer, n);
    }
    if (!ok && error == 0) error = errno != 0 ? errno : EIO;
    ::close(in);
    if (out >= 0) {
        if (ok && ::fsync(out) != 0) ok = false, error = errno;
        if (::close(out) != 0 && ok) ok = false, error = errno;
    }
    if (ok && ::rename(temporary.c_str(), to.c_str()) != 0) ok = false, error = errno;
    if (!ok) ::unlink(temporary.c_str());
    return ok ? 0 : error;
}

void Tell(std::vector<std::string>* problems, std::string text) {
    if (problems != nullptr) problems->push_back(std::move(text));
}

std::string moduleFolder;

}  // namespace

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string exe(path, static_cast<std::size_t>(n));
    const std::size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string ChooseSettingsFolder(const std::string& exeFolder, const char* xdgConfigHome,
                                 const char* home, std::vector<std::string>* problems) {
    if (!exeFolder.empty() && Exists(exeFolder + "/" + kFileName)) return exeFolder;
    const std::string beside = exeFolder + "/" + kFileName;
    struct stat link;
    const bool somethingBeside = !exeFolder.empty() && ::lstat(beside.c_str(), &link) == 0;
    std::string config;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        config = xdgConfigHome;
    } else if (home != nullptr && home[0] == '/') {
        config = std::string(home) + "/.config";
    } else {
        return exeFolder;  // nowhere else to keep it
    }
    const std::string folder = config + "/QuorvelCE";
    const std::string file = folder + "/" + kFileName;
    if (somethingBeside) {
        struct stat target;
        const char* what = ::stat(beside.c_str(), &target) != 0 ? "un lien vers rien"
                           : S_ISDIR(target.st_mode)            ? "un dossier"
                                                                : "autre chose qu'un fichier";
        Tell(problems, beside + " est " + what + " : les paramètres de " + file +
                           " sont utilisés à sa place.\nRemplacez-le par un fichier de "
                           "paramètres, ou supprimez-le.");
    }
    if (!Exists(file)) {
        const std::string installed = exeFolder + "/../share/quorvelce/" + kFileName;
        if (Exists(installed)) {
            int error = MakeFolders(folder);
            if (error == 0) error = CopyFile(installed, file);
            if (error != 0) {
                Tell(problems, "Copie des paramètres par défaut impossible vers " + file + " (" +
                                   std::strerror(error) +
                                   ") : le programme utilise ses valeurs intégrées et n'enregistre "
                                   "pas leurs changements.\nVérifiez que ce dossier peut être "
                                   "créé et écrit, puis relancez QuorvelCE.");
            }
        }
    }
    return folder;
}

void SetModuleFolder(std::string folder) {
    moduleFolder = std::move(folder);
}

const std::string& ModuleFolder() {
    return moduleFolder;
}

}  // namespace platform::linux_backend
