// Runs programs under test in a scratch directory and collects what they print.
#ifndef TAVRIN_TESTS_RUNNER_H
#define TAVRIN_TESTS_RUNNER_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

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
// run time), how many bytes it reads at a time, and how to run it.
struct Tool {
    std::string kernel;
    int block;
    Command command;
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
    std::string path;
    while (list >> tool.kernel >> tool.block >> path) {
        tool.command = emulator;
        tool.command.push_back(path);
        tools.push_back(tool);
    }
    if (tools.empty()) tools.push_back({"none", 0, {std::string("no tools listed in ") + TAVRIN_TOOLS}});
    return tools;
}

// Starts the command with args; standard output goes to out_path,
// standard error to "err" in the current directory.
inline pid_t start(const Command& command, const std::vector<std::string>& args,
                   const std::string& out_path = "out", const Child& child = {})
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
    posix_spawn_file_actions_addopen(&actions, 2, "err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (child.closed != kAllOpen) posix_spawn_file_actions_addclose(&actions, child.closed);
    // The child inherits the limits; nothing here writes, nor grows its
    // stack past what it has used before, while they are set.
    const rlimit usual_size = set_limit(RLIMIT_FSIZE, child.file_size_limit);
    const rlimit usual_stack = set_limit(RLIMIT_STACK, child.stack_limit);
    // A small stack is small indeed: the kernel starts the stack up to 8 KiB
    // below its top, at random, and the environment takes its room too; so
    // a run with a stack limit gets no environment.
    char* no_environment[] = {nullptr};
    char** const envp = child.stack_limit == RLIM_INFINITY ? environ : no_environment;
    pid_t pid = -1;
    EXPECT_EQ(posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp), 0);
    setrlimit(RLIMIT_STACK, &usual_stack);
    setrlimit(RLIMIT_FSIZE, &usual_size);
    posix_spawn_file_actions_destroy(&actions);
    if (child.reader_gone) close(pipe_ends[1]);
    return pid;
}

// Waits for a started program; the status is the shell's view of it.
inline Outcome finish(pid_t pid, const std::string& out_path = "out")
{
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    const bool kept = std::filesystem::is_regular_file(out_path);  // not a device such as /dev/full
    return {status, kept ? slurp(out_path) : "", slurp("err")};
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
