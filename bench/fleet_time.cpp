// Eight simulated instruments updated at once by meterload-cli, with a
// 256 KiB image on the real clock: the program run as a user runs it, in a
// process of its own (the simulated instruments run inside it). Prints the
// wall time divided by the least time one instrument's pauses allow, the
// processor time of the whole run as a share of its wall time, and the peak
// memory.
//
//   meterload_bench_fleet [instruments]     (default 8)
#include "bench/bench_files.h"
#include "bench/pause_minimum.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace meterload::bench {
namespace {

constexpr double kRatioTarget = 1.02;
constexpr double kCpuShareTarget = 0.05;
constexpr std::uint64_t kImageSize = 256 * 1024;

struct Run {
    int code = -1;
    double wallSeconds = 0.0;
    double cpuSeconds = 0.0;  // user and system, every thread of the program
    long peakKiB = 0;
};

double Seconds(const timeval& time)
{
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Runs `args` with `extra` added to the environment, its output to `out`
// and its messages to `err`.
Run RunProgram(const std::vector<std::string>& args, const std::vector<std::string>& extra, const std::string& out,
               const std::string& err)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("ZQSIM_", 0) != 0 && text.rfind("METERLOAD_", 0) != 0) {
            env.push_back(text);
        }
    }
    env.insert(env.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    std::vector<char*> envp;
    std::vector<std::string> argsCopy = args;
    for (std::string& arg : argsCopy) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    for (std::string& entry : env) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int nullFd = open("/dev/null", O_RDONLY);
        dup2(nullFd, STDIN_FILENO);
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run run;
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;  // kibibytes on Linux
    return run;
}

std::string Serials(int count)
{
    std::string serials;
    for (int i = 1; i <= count; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "FLT%03d", i);
        serials += (serials.empty() ? "" : ",") + std::string(serial);
    }
    return serials;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* Verdict(bool met)
{
    return met ? "met" : "MISSED";
}

}  // namespace
}  // namespace meterload::bench

int main(int argc, char** argv)
{
    using namespace meterload::bench;
    const int instruments = argc > 1 ? std::atoi(argv[1]) : 8;
    if (instruments < 1 || instruments > 16) {
        std::fprintf(stderr, "usage: %s [instruments, 1 to 16]\n", argv[0]);
        return 2;
    }
    try {
        const std::string dir = MakeTempDir();
        const std::string image = dir + "/image.bin";
        WriteImageFile(image, kImageSize);
        const Run run = RunProgram({METERLOAD_CLI_PATH, "install", image, "--all", "--yes", "--json"},
                                   {"METERLOAD_VISA_LIBRARY=" ZQSIM_LIBRARY_PATH,
                                    "ZQSIM_SERIALS=" + Serials(instruments), "ZQSIM_RECORD=off",
                                    "ZQSIM_STATE=" + dir + "/sim.state", "METERLOAD_HISTORY=" + dir + "/history.jsonl"},
                                   dir + "/out.json", dir + "/err.txt");
        const std::string output = ReadAll(dir + "/out.json");
        const std::string messages = ReadAll(dir + "/err.txt");
        RemoveTree(dir);

        const double minimum = static_cast<double>(ImageMinimum(kImageSize).count()) / 1000.0;
        const double ratio = run.wallSeconds / minimum;
        const double cpuShare = run.cpuSeconds / run.wallSeconds;
        std::printf("%d instrument%s at once, a %llu KiB image each, by %s\n", instruments, instruments == 1 ? "" : "s",
                    static_cast<unsigned long long>(kImageSize / 1024), METERLOAD_CLI_PATH);
        std::printf("fleet    measured %8.3f s  one instrument's minimum %8.3f s  ratio %.4f  (target <= %.2f: %s)%s\n",
                    run.wallSeconds, minimum, ratio, kRatioTarget, Verdict(ratio <= kRatioTarget),
                    run.code == 0 ? "" : "  [install FAILED]");
        std::printf("fleet    cpu %.3f s = %.2f %% of the wall time  (target < %.0f %%: %s)\n", run.cpuSeconds,
                    100.0 * cpuShare, 100.0 * kCpuShareTarget, Verdict(cpuShare < kCpuShareTarget));
        std::printf("fleet    peak memory %ld KiB\n", run.peakKiB);
        if (run.code != 0) {
            std::fprintf(stderr, "meterload-cli exited with %d:\n%s%s", run.code, messages.c_str(), output.c_str());
            return 1;
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench: %s\n", error.what());
        return 2;
    }
}
