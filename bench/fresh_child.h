// Timing a first run in a fresh process: each iteration forks a child that has done
// nothing yet and times one run there, so every run finds the allocator and the page
// tables as a game's first call finds them.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

// `run` executes in the child and returns the seconds it measured, or a negative value
// when it failed; the parent records that time as the iteration's.
template <class Run>
void TimeEachInFreshChild(benchmark::State& state, Run run) {
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) return state.SkipWithError("pipe failed");
    pid_t child = fork();
    if (child < 0) return state.SkipWithError("fork failed");
    if (child == 0) {
      close(fds[0]);
      double seconds = run();
      ssize_t ignored = write(fds[1], &seconds, sizeof seconds);
      (void)ignored;
      _exit(0);
    }
    close(fds[1]);
    double seconds = -1;
    ssize_t got = read(fds[0], &seconds, sizeof seconds);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof seconds) || seconds < 0)
      return state.SkipWithError("child failed");
    state.SetIterationTime(seconds);
  }
}
