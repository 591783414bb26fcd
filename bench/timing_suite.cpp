// SPDX-License-Identifier: MIT
// The operations timed with Google Benchmark on the virtual PC: what a call costs there, the
// virtual PC's own work included. The times are for comparing operations within one run.
#include <benchmark/benchmark.h>

#include "bench/operations.h"

namespace {

void Measure(benchmark::State& state, const bench::Operation& operation) {
  bench::Workbench workbench;
  operation.prepare(workbench);
  operation.run(workbench);  // the first grant or window, outside the measurement
  for (auto _ : state) operation.run(workbench);
}

}  // namespace

int main(int argc, char** argv) {
  for (const bench::Operation& operation : bench::operations())
    benchmark::RegisterBenchmark(operation.name.c_str(), Measure, operation);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
