// SPDX-License-Identifier: MIT
// A program started by a test: in a directory, with TEMP pointing there and
// its output (stdout and stderr) going to a file. Killed and reaped when the
// test lets go of it.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/wait.h"

namespace rigplot::test {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const std::string& dir, const std::string& output)
      : m_name(argv.at(0).substr(argv[0].rfind('/') + 1)), m_output(output) {
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid != 0) return;
    const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::dup2(fd, STDOUT_FILENO) < 0 || ::dup2(fd, STDERR_FILENO) < 0) ::_exit(127);
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::setenv("TEMP", dir.c_str(), 1);
    // Signals as a shell would leave them, whatever the test runner ignores.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ~ChildProcess() {
    if (m_pid <= 0 || m_reaped) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return m_pid; }
  void Signal(int sig) const { ::kill(m_pid, sig); }
  std::string Output() const { return ReadWholeFile(m_output); }

  // Waits until `text` shows in the output; a timeout fails with the output.
  ::testing::AssertionResult WaitForOutput(const std::string& text) const {
    return WaitFor(
        "\"" + text + "\" in the output of " + m_name,
        [&] { return Output().find(text) != std::string::npos; },
        [&] { return "\"" + Output() + "\""; });
  }

  // Its exit status once it has ended; -1 if it did not end in time or was
  // ended by a signal.
  int Wait() {
    int status = 0;
    if (!WaitUntil([&] { return ::waitpid(m_pid, &status, WNOHANG) == m_pid; })) return -1;
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string m_name;
  pid_t m_pid = -1;
  bool m_reaped = false;
  std::string m_output;
};

}  // namespace rigplot::test
