// Starting the program as a user's shell would: in its working folder (its
// settings live there), with its output to a log file.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>

#include <string>
#include <vector>

extern char** environ;

namespace vesk::testing {

struct Spawn {
  std::string program;              // the executable
  std::string dir;                  // its working folder
  std::string log;                  // where stderr goes
  std::vector<std::string> args{};  // after the program's name
  // "KEY=value" set, "KEY" removed; everything else as this process has it.
  std::vector<std::string> env{};
  bool append = false;      // the log added to rather than replaced
  bool withStdout = false;  // stdout to the log as well
};

// The child's pid, or 0 when it could not be started.
inline pid_t SpawnProgram(const Spawn& s) {
  auto key = [](const std::string& e) { return e.substr(0, e.find('=')); };
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    bool replaced = false;
    for (const std::string& o : s.env) replaced = replaced || key(o) == key(*e);
    if (!replaced) env.emplace_back(*e);
  }
  for (const std::string& o : s.env) {
    if (o.find('=') != std::string::npos) env.push_back(o);
  }
  std::vector<std::string> args{s.program};
  args.insert(args.end(), s.args.begin(), s.args.end());
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, s.dir.c_str());
  const int mode = O_WRONLY | O_CREAT | (s.append ? O_APPEND : O_TRUNC);
  posix_spawn_file_actions_addopen(&actions, 2, s.log.c_str(), mode, 0644);
  if (s.withStdout) posix_spawn_file_actions_adddup2(&actions, 2, 1);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, s.program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

}  // namespace vesk::testing
