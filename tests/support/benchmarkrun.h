#ifndef BENCHMARKRUN_H
#define BENCHMARKRUN_H

#include <cstdio>
#include <vector>

// What every benchmark does before and while it measures.
namespace BenchmarkRun {

// The start of a benchmark's main(). It refuses (a line on standard error naming the program,
// exit code 2) outside the private network of tests/netns-run --peer: every benchmark sends.
// Then standard output goes to /dev/null, since the engine writes its diagnostics there, and
// *figures becomes a line-buffered stream on what standard output was (exit code 1 when that
// fails). Returns 0 to go on, else the exit code.
int begin(const char *program, FILE **figures);

// The median; 0 for no values.
double median(std::vector<double> values);

} // namespace BenchmarkRun

#endif // BENCHMARKRUN_H
