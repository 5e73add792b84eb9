// Runs programs under test in a scratch directory and collects what they print.
#ifndef TAVRIN_TESTS_RUNNER_H
#define TAVRIN_TESTS_RUNNER_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
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

// Starts exe with args; standard output goes to out_path, standard error
// to "err" in the current directory.
inline pid_t start(const std::string& exe, const std::vector<std::string>& args,
                   const std::string& out_path = "out")
{
    std::vector<char*> argv{const_cast<char*>(exe.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "err", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
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

inline Outcome run(const std::string& exe, const std::vector<std::string>& args,
                   const std::string& out_path = "out")
{
    return finish(start(exe, args, out_path), out_path);
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
