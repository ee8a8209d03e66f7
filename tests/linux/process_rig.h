// Helpers of the Linux program tests: a scratch folder, a child process with its standard
// error kept in a file, and waiting for a condition with a bound.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace zelk {

inline std::string ReadFileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Polls `condition` every 5 ms until it holds or `limit` passed; the last answer.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A fresh folder under /tmp, removed with everything in it.
class ScratchDir {
  public:
    explicit ScratchDir(const char* prefix) {
        std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
        path_ = mkdtemp(pattern.data());
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// A child process; standard error goes to `errFile`, standard input from a pipe when asked.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& errFile,
                 const std::vector<std::string>& extraEnv = {}, bool withStdin = false,
                 const std::string& outFile = "/dev/null") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        int in[2] = {-1, -1};
        if (withStdin && pipe2(in, O_CLOEXEC) == 0) {
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
            stdin_ = in[1];
        } else {
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<char*> args, envp;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (in[0] >= 0) close(in[0]);
    }
    ~ChildProcess() {
        CloseStdin();
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const { kill(pid_, signal); }
    bool WriteLine(const std::string& line) {
        const std::string text = line + "\n";
        return stdin_ >= 0 &&
               write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    void CloseStdin() {
        if (stdin_ >= 0) close(stdin_);
        stdin_ = -1;
    }
    // The exit status once the process has ended within `limit`, else -1 (signals: 128 + n).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        if (exited_) return status_;
        int raw = 0;
        if (!zelk::WaitUntil([&] { return waitpid(pid_, &raw, WNOHANG) == pid_; }, limit)) {
            return -1;
        }
        exited_ = true;
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

  private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

}  // namespace zelk
