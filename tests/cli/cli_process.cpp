#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace meterload::testing {
namespace {

// The test's own environment, without what configures the program or the
// simulator, plus `extra`.
std::vector<std::string> EnvironmentFor(const Environment& extra)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("ZQSIM_", 0) == 0 || text.rfind("METERLOAD_", 0) == 0) {
            continue;
        }
        const std::string key = text.substr(0, text.find('='));
        if (extra.count(key) == 0) {
            entries.push_back(text);
        }
    }
    for (const auto& [key, value] : extra) {
        entries.push_back(key + "=" + value);
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void Exec(std::vector<std::string> args, const Environment& environment)
{
    std::vector<std::string> env = EnvironmentFor(environment);
    const std::vector<char*> argv = Pointers(args);
    const std::vector<char*> envp = Pointers(env);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

int ExitCode(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What `fd` has within `timeoutMs`, onto `into`: 1 when something came, 0
// when nothing did, -1 when it closed (the program ended).
int PumpInto(int fd, std::string& into, int timeoutMs)
{
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) {
        return 0;
    }
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        return -1;
    }
    into.append(buffer, static_cast<std::size_t>(n));
    return 1;
}

// Pumps until `text` is in `output`; false when the time ran out or the
// program ended first.
template <class Pump>
bool WaitForText(const std::string& output, const std::string& text, std::chrono::seconds limit, Pump pump)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (output.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end || pump(100) < 0) {
            return output.find(text) != std::string::npos;
        }
    }
    return true;
}

}  // namespace

CliRun RunCli(const std::vector<std::string>& args, const Environment& environment, const std::string& input)
{
    char outName[] = "/tmp/meterload-cli-out-XXXXXX";
    char errName[] = "/tmp/meterload-cli-err-XXXXXX";
    const int out = mkstemp(outName);
    const int err = mkstemp(errName);
    int in[2];
    if (out < 0 || err < 0 || pipe(in) != 0) {
        throw std::runtime_error("cannot set up the child's files");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        close(in[1]);
        Exec(args, environment);
    }
    close(in[0]);
    const ssize_t written = write(in[1], input.data(), input.size());
    (void)written;
    close(in[1]);
    int status = 0;
    waitpid(pid, &status, 0);

    CliRun run;
    run.code = ExitCode(status);
    lseek(out, 0, SEEK_SET);
    lseek(err, 0, SEEK_SET);
    run.out = ReadAll(out);
    run.err = ReadAll(err);
    close(out);
    close(err);
    unlink(outName);
    unlink(errName);
    return run;
}

PtyRun::PtyRun(const std::vector<std::string>& args, const Environment& environment)
{
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ < 0) {
        throw std::runtime_error("forkpty failed");
    }
    if (pid_ == 0) {
        Exec(args, environment);
    }
}

PtyRun::~PtyRun()
{
    if (!ended_) {
        kill(pid_, SIGKILL);
        Wait();
    }
    close(master_);
}

void PtyRun::Type(const std::string& text)
{
    const ssize_t written = write(master_, text.data(), text.size());
    (void)written;
}

int PtyRun::Pump(int timeoutMs)
{
    // The terminal closes when the program ends.
    return PumpInto(master_, output_, timeoutMs);
}

bool PtyRun::WaitForOutput(const std::string& text, std::chrono::seconds limit)
{
    return WaitForText(output_, text, limit, [this](int timeoutMs) { return Pump(timeoutMs); });
}

int PtyRun::Wait()
{
    int status = 0;
    for (;;) {
        const int pumped = Pump(100);
        if (pumped < 0) {
            break;
        }
        if (pumped == 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
            while (Pump(20) > 0) {
            }
            ended_ = true;
            return ExitCode(status);
        }
    }
    waitpid(pid_, &status, 0);
    ended_ = true;
    return ExitCode(status);
}

BackgroundRun::BackgroundRun(const std::vector<std::string>& args, const Environment& environment)
{
    char outName[] = "/tmp/meterload-cli-out-XXXXXX";
    out_fd_ = mkstemp(outName);
    outName_ = outName;
    int err[2];
    if (out_fd_ < 0 || pipe(err) != 0) {
        throw std::runtime_error("cannot set up the child's files");
    }
    pid_ = fork();
    if (pid_ == 0) {
        const int none = open("/dev/null", O_RDONLY);
        dup2(none, STDIN_FILENO);
        dup2(out_fd_, STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        close(err[0]);
        Exec(args, environment);
    }
    close(err[1]);
    err_fd_ = err[0];
}

BackgroundRun::~BackgroundRun()
{
    if (!ended_) {
        kill(pid_, SIGKILL);
        Wait();
    }
    close(err_fd_);
    close(out_fd_);
    unlink(outName_.c_str());
}

int BackgroundRun::Pump(int timeoutMs)
{
    return PumpInto(err_fd_, err_, timeoutMs);
}

bool BackgroundRun::WaitForError(const std::string& text, std::chrono::seconds limit)
{
    return WaitForText(err_, text, limit, [this](int timeoutMs) { return Pump(timeoutMs); });
}

void BackgroundRun::Interrupt()
{
    kill(pid_, SIGINT);
}

CliRun BackgroundRun::Wait()
{
    while (Pump(100) >= 0) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
    CliRun run;
    run.code = ExitCode(status);
    lseek(out_fd_, 0, SEEK_SET);
    run.out = ReadAll(out_fd_);
    run.err = err_;
    return run;
}

}  // namespace meterload::testing
