#include "platform/locked_append.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace meterload {

namespace {

std::string Reason(const char* step, const std::string& path)
{
    // strerror may share one buffer between threads; the category's message does not.
    return std::string(step) + " " + path + ": " + std::generic_category().message(errno);
}

// mkdir -p of the folder that holds `path`.
bool MakeParents(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool AppendLocked(const std::string& path, const std::string& text, std::string& error)
{
    if (!MakeParents(path)) {
        error = Reason("cannot create the folder of", path);
        return false;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = Reason("cannot open", path);
        return false;
    }
    // flock, not fcntl: its lock belongs to this open file, so threads of one
    // process exclude each other as well as other processes do.
    int locked;
    do {
        locked = flock(fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        error = Reason("cannot lock", path);
        close(fd);
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = Reason("cannot write", path);
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (ok && fsync(fd) != 0) {
        error = Reason("cannot flush", path);
        ok = false;
    }
    flock(fd, LOCK_UN);
    close(fd);
    return ok;
}

std::string UserStateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/meterload";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.local/state/meterload";
    }
    return std::string();
}

}  // namespace meterload
