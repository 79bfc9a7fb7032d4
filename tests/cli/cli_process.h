// Running the real meterload-cli as a child process: with its input from a
// pipe and its output in files, or on a pseudo-terminal as a user at a
// terminal runs it (Ctrl+C included).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace meterload::testing {

using Environment = std::map<std::string, std::string>;

struct CliRun {
    int code = -1;  // the exit code, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs to its end with `input` on standard input (then its end).
CliRun RunCli(const std::vector<std::string>& args, const Environment& environment,
              const std::string& input = std::string());

// One run in the background, not on a terminal: standard input empty,
// standard error read as it comes, standard output kept until the end.
class BackgroundRun {
public:
    BackgroundRun(const std::vector<std::string>& args, const Environment& environment);
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // Waits until standard error holds `text`; false when the time ran out or the program ended first.
    bool WaitForError(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60));
    // Ctrl+C, as the terminal sends it.
    void Interrupt();
    // Waits for the end.
    CliRun Wait();
    const std::string& Error() const { return err_; }

private:
    int Pump(int timeoutMs);

    pid_t pid_ = -1;
    int err_fd_ = -1;
    int out_fd_ = -1;
    std::string outName_;
    std::string err_;
    bool ended_ = false;
};

// One run on a pseudo-terminal: standard input, output and error are the terminal.
class PtyRun {
public:
    PtyRun(const std::vector<std::string>& args, const Environment& environment);
    ~PtyRun();
    PtyRun(const PtyRun&) = delete;
    PtyRun& operator=(const PtyRun&) = delete;

    // Types on the terminal; "\x03" is Ctrl+C.
    void Type(const std::string& text);
    // Waits until the output holds `text`; false when the time ran out or the program ended first.
    bool WaitForOutput(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(30));
    // Waits for the end; the exit code.
    int Wait();
    const std::string& Output() const { return output_; }

private:
    // 1: output arrived, 0: none within the time, -1: the terminal closed.
    int Pump(int timeoutMs);

    int master_ = -1;
    pid_t pid_ = -1;
    std::string output_;
    bool ended_ = false;
};

}  // namespace meterload::testing
