#include "ChildProcess.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quarn::bench {

std::string runChild(std::vector<std::string> arguments, std::vector<std::string> environment) {
  std::vector<char*> argv, envp;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  for (std::string& variable : environment) envp.push_back(&variable[0]);
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  pid_t pid = 0;
  const int spawnError = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                                     environment.empty() ? environ : envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawnError != 0) {
    close(pipeEnds[0]);
    throw std::runtime_error("cannot run " + arguments[0] + ": " + std::strerror(spawnError));
  }
  std::string text;
  char chunk[4096];
  for (ssize_t got; (got = read(pipeEnds[0], chunk, sizeof chunk)) != 0;) {
    if (got > 0)
      text.append(chunk, static_cast<std::size_t>(got));
    else if (errno != EINTR)
      break;
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments[0] + " failed");
  }
  return text;
}

}  // namespace quarn::bench
