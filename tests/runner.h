// Runs programs under test in a scratch directory and collects what they print.
#ifndef TAVRIN_TESTS_RUNNER_H
#define TAVRIN_TESTS_RUNNER_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// How much slower than usual the machine runs the tools now, as ctest
// measured it before the tests (test_limits.cmake.in); 1 without ctest.
inline int limit_factor()
{
    const char* factor = std::getenv("TAVRIN_TEST_LIMIT_FACTOR");
    return factor != nullptr && std::atoi(factor) > 1 ? std::atoi(factor) : 1;
}

// How long a run may take before it counts as hung: it is killed, with
// everything it started, and its case fails. Far above any run's usual
// time, so that only a hang reaches it.
const int kRunDeadlineSeconds = TAVRIN_RUN_DEADLINE * limit_factor();
// The status of a run that was killed at its deadline.
constexpr int kHung = -1;

inline std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

constexpr int kAllOpen = -1;

// Surroundings of a run that are not ordinary.
struct Child {
    int closed = kAllOpen;           // a descriptor the run starts without
    rlim_t file_size_limit = RLIM_INFINITY;
    bool reader_gone = false;        // standard output is a pipe nobody reads
    rlim_t stack_limit = RLIM_INFINITY;
    const char* input = nullptr;     // a file for standard input, if any
};

// Sets a resource's soft limit; returns the limits as they were.
inline rlimit set_limit(int resource, rlim_t soft)
{
    rlimit usual{};
    getrlimit(resource, &usual);
    rlimit limited = usual;
    limited.rlim_cur = soft;
    setrlimit(resource, &limited);
    return usual;
}

// A program to run: its path, after the words of an emulator if it needs one.
using Command = std::vector<std::string>;

// A build of the tool under test: its scan kernel ("auto" when chosen at
// run time), how many bytes it reads at a time, how to run it, and whether
// it was built against the framework rather than the stand-in.
struct Tool {
    std::string kernel;
    int block;
    Command command;
    bool framework;
};

// The tools listed by the build, the tool as built first.
inline std::vector<Tool> tools_under_test()
{
    Command emulator;
    std::istringstream words(TAVRIN_EMULATOR);
    for (std::string word; words >> word;) emulator.push_back(word);
    std::vector<Tool> tools;
    std::ifstream list(TAVRIN_TOOLS);
    Tool tool;
    std::string path, framework;
    while (list >> tool.kernel >> tool.block >> path >> framework) {
        tool.command = emulator;
        tool.command.push_back(path);
        tool.framework = framework == "ROOT";
        tools.push_back(tool);
    }
    if (tools.empty()) tools.push_back({"none", 0, {std::string("no tools listed in ") + TAVRIN_TOOLS}, false});
    return tools;
}

// A program built beside the tool, run as the tool is.
inline Command program_beside(Command tool, const char* program)
{
    tool.back() = (std::filesystem::path(tool.back()).parent_path() / program).string();
    return tool;
}

inline Command survey_beside(const Command& tool)
{
    return program_beside(tool, "tavrin-survey");
}

// A run started and not yet finished: its command line, and where its
// standard error goes.
struct Started {
    std::string command;
    std::string err_path;
};

inline std::map<pid_t, Started>& started_runs()
{
    static std::map<pid_t, Started> runs;
    return runs;
}

// Starts the command with args; standard output goes to out_path,
// standard error to err_path.
inline pid_t start(const Command& command, const std::vector<std::string>& args,
                   const std::string& out_path = "out", const Child& child = {},
                   const std::string& err_path = "err")
{
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_ends[2] = {-1, -1};
    if (child.reader_gone) {
        EXPECT_EQ(pipe(pipe_ends), 0);
        close(pipe_ends[0]);
        posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (child.input != nullptr) posix_spawn_file_actions_addopen(&actions, 0, child.input, O_RDONLY, 0);
    if (child.closed != kAllOpen) posix_spawn_file_actions_addclose(&actions, child.closed);
    // The child inherits the limits; nothing here writes, nor grows its
    // stack past what it has used before, while they are set.
    const rlimit usual_size = set_limit(RLIMIT_FSIZE, child.file_size_limit);
    const rlimit usual_stack = set_limit(RLIMIT_STACK, child.stack_limit);
    // A small stack is small indeed: the kernel starts the stack up to 8 KiB
    // below its top, at random, and the environment takes its room too; so
    // a run with a stack limit gets an environment of 1.5 KiB, about a
    // login shell's, rather than the test's, whose size varies. (From about
    // 2 KiB on, the dynamic loader that starts any program, /bin/true too,
    // may itself run out of a 16 KiB stack.)
    static std::string shell_sized = "TAVRIN_TEST_ENVIRONMENT=" + std::string(1536, 'x');
    char* small_environment[] = {&shell_sized[0], nullptr};
    char** const envp = child.stack_limit == RLIM_INFINITY ? environ : small_environment;
    // A group of its own, so that a hung run is killed with all it started.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), envp), 0);
    setrlimit(RLIMIT_STACK, &usual_stack);
    setrlimit(RLIMIT_FSIZE, &usual_size);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (child.reader_gone) close(pipe_ends[1]);
    std::string words;
    for (std::size_t i = 0; i + 1 < argv.size(); ++i) words += (i ? " " : "") + std::string(argv[i]);
    started_runs()[pid] = {words, err_path};
    return pid;
}

// Waits for a started program until its deadline: true with its wait
// status, or false once its process group is killed at the deadline.
inline bool wait_within_deadline(pid_t pid, int& wstatus)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(kRunDeadlineSeconds);
    // Most runs take a millisecond or two: look often at first, then less.
    std::chrono::microseconds pause(20);
    while (waitpid(pid, &wstatus, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(-pid, SIGKILL);
            waitpid(pid, &wstatus, 0);
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(2000));
    }
    return true;
}

// Waits for a started program; the status is the shell's view of it. A run
// that outlives its deadline fails the test, and its outcome says so.
inline Outcome finish(pid_t pid, const std::string& out_path = "out")
{
    int wstatus = 0;
    const bool finished = wait_within_deadline(pid, wstatus);
    const Started started = started_runs()[pid];
    started_runs().erase(pid);
    if (!finished) {
        const std::string hung = "did not finish within " + std::to_string(kRunDeadlineSeconds) + " s";
        ADD_FAILURE() << started.command << ": " << hung;
        return {kHung, "", hung};
    }
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    const bool kept = std::filesystem::is_regular_file(out_path);  // not a device such as /dev/full
    return {status, kept ? slurp(out_path) : "", slurp(started.err_path)};
}

inline Outcome run(const Command& command, const std::vector<std::string>& args,
                   const std::string& out_path = "out")
{
    return finish(start(command, args, out_path), out_path);
}

// A compressed format that tavrin reads, and the command of its own tool
// that compresses a file to standard output at the tool's default level.
struct Packer {
    std::string format;
    std::string command;
};

inline const std::vector<Packer>& packers()
{
    static const std::vector<Packer> all = {
        {"gzip", "gzip -c"}, {"bzip2", "bzip2 -c"}, {"xz", "xz -c"}, {"zstd", "zstd -q -c"}};
    return all;
}

// The bytes of text as the packer's tool compresses them.
inline std::string packed(const std::string& text, const Packer& packer)
{
    write_file("plain", text);
    const Outcome outcome = run({"sh"}, {"-c", packer.command + " plain"}, "packed");
    EXPECT_EQ(outcome.status, 0) << packer.command << ": " << outcome.err;
    return outcome.out;
}

// The formats that a tool's runs are tested in: plain text (nullptr) and
// every compressed one. Under an emulator the target's codec libraries may
// be missing, and then the compressed ones are skipped, and said so.
inline std::vector<const Packer*> formats_for(const Command& tool)
{
    std::vector<const Packer*> formats = {nullptr};
    for (const Packer& packer : packers()) {
        write_file("probe.txt", packed("1\n", packer));
        const Outcome outcome = run(tool, {"7", "probe", "probe.txt"});
        std::filesystem::remove("zelquist_sampa7_probe.log");
        if (outcome.status == 0 || std::string(TAVRIN_EMULATOR).empty()) {
            formats.push_back(&packer);
        } else {
            std::cout << "skipped: " << packer.format << " recordings, which the tool cannot read here: "
                      << outcome.err;
        }
    }
    return formats;
}

inline std::string format_name(const Packer* packer)
{
    return packer == nullptr ? "plain" : packer->format;
}

// Each test works in a fresh directory of its own, removed afterwards.
class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tavrin-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        home_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override
    {
        std::filesystem::current_path(home_);
        std::filesystem::remove_all(dir_);
    }

private:
    std::filesystem::path dir_;
    std::filesystem::path home_;
};

#endif
