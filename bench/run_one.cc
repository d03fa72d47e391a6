// Runs one command once and reports its wall time and peak memory.
//
// usage: run_one TIMEOUT_SECONDS OUTPUT_FILE COMMAND [ARGUMENT ...]
//
// The command starts with standard input from /dev/null and standard output and error in
// OUTPUT_FILE. Prints one line: "WALL_SECONDS MAX_RSS_KB EXIT_STATUS". The wall time spans the
// spawn to the end of the wait; the peak memory is getrusage(RUSAGE_CHILDREN) ru_maxrss, which
// covers the one child of this process only, since every run gets a fresh run_one. A command still
// running after TIMEOUT_SECONDS is killed and reported with the status "timeout".
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace {

volatile pid_t g_child = 0;
volatile sig_atomic_t g_timedOut = 0;

void OnAlarm(int) {
  g_timedOut = 1;
  if (g_child > 0) kill(g_child, SIGKILL);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s TIMEOUT_SECONDS OUTPUT_FILE COMMAND [ARGUMENT ...]\n", argv[0]);
    return 2;
  }
  unsigned timeout = static_cast<unsigned>(strtoul(argv[1], nullptr, 10));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);

  struct sigaction alarmAction = {};
  alarmAction.sa_handler = OnAlarm;
  sigaction(SIGALRM, &alarmAction, nullptr);

  struct timespec start;
  struct timespec end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child;
  int spawned = posix_spawn(&child, argv[3], &actions, nullptr, argv + 3, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    fprintf(stderr, "cannot start %s\n", argv[3]);
    return 2;
  }
  g_child = child;
  alarm(timeout);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  alarm(0);

  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  if (g_timedOut) {
    printf("%.9f %ld timeout\n", seconds, usage.ru_maxrss);
  } else if (WIFEXITED(status)) {
    printf("%.9f %ld %d\n", seconds, usage.ru_maxrss, WEXITSTATUS(status));
  } else {
    printf("%.9f %ld signal%d\n", seconds, usage.ru_maxrss, WTERMSIG(status));
  }
  return 0;
}
