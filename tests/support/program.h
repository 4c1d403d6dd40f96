// Another program run as a script runs it: environment additions, a working
// folder and standard input of the test's choosing, no controlling terminal;
// its standard output and error go to files and are read back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace test_program {

namespace fs = std::filesystem;

inline std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Result {
  int status = -1;  // the exit status; -1 when ended by a signal
  int signal = 0;   // the signal that ended it
  std::string out, err;
};

// Starts a program with the given environment additions, working folder and
// standard input; standard output and error go to files of the test.
inline pid_t StartProgram(const fs::path& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env, const fs::path& cwd,
                          const std::string& input, const fs::path& scratch) {
  const fs::path in = scratch / "stdin", out = scratch / "stdout", err = scratch / "stderr";
  {
    std::ofstream file(in, std::ios::binary);
    file << input;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    if (::chdir(cwd.c_str()) != 0) ::_exit(126);
    const int fdIn = ::open(in.c_str(), O_RDONLY);
    const int fdOut = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int fdErr = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fdIn, 0);
    ::dup2(fdOut, 1);
    ::dup2(fdErr, 2);
    ::setsid();  // no controlling terminal: the PIN comes from standard input
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits for a started program (killing it after timeoutSeconds).
inline Result WaitProgram(pid_t pid, const fs::path& scratch, int timeoutSeconds = 60) {
  Result r;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  for (;;) {
    if (::waitpid(pid, &status, WNOHANG) == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ADD_FAILURE() << "the program did not finish";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  r.out = ReadFile(scratch / "stdout");
  r.err = ReadFile(scratch / "stderr");
  return r;
}

inline Result RunProgram(const fs::path& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const fs::path& cwd,
                         const std::string& input, const fs::path& scratch,
                         int timeoutSeconds = 60) {
  return WaitProgram(StartProgram(program, args, env, cwd, input, scratch), scratch,
                     timeoutSeconds);
}

}  // namespace test_program
