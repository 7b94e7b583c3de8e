// Adding a batch of 9999 devices to the fleet, and deleting all of them.
#include <benchmark/benchmark.h>

#include <numeric>
#include <vector>

#include "app/fleet.h"
#include "platform/debug_log.h"

namespace {

std::vector<int32_t> AllRows(int32_t n) {
  std::vector<int32_t> rows(static_cast<size_t>(n));
  std::iota(rows.begin(), rows.end(), 0);
  return rows;
}

void BM_AddBatchOf9999(benchmark::State& state) {
  SetDebugEnabled(false);
  CFleet fleet("/nonexistent");
  for (auto _ : state) {
    benchmark::DoNotOptimize(fleet.AddDevices("CAR", FLEET_MAX_BATCH));
    state.PauseTiming();
    fleet.DeleteDevices(AllRows(fleet.RowCount()));
    state.ResumeTiming();
  }
  state.counters["devices/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * FLEET_MAX_BATCH, benchmark::Counter::kIsRate);
  SetDebugEnabled(true);
}
BENCHMARK(BM_AddBatchOf9999)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_DeleteAll9999(benchmark::State& state) {
  SetDebugEnabled(false);
  CFleet fleet("/nonexistent");
  for (auto _ : state) {
    state.PauseTiming();
    fleet.AddDevices("CAR", FLEET_MAX_BATCH);
    std::vector<int32_t> all = AllRows(fleet.RowCount());
    state.ResumeTiming();
    benchmark::DoNotOptimize(fleet.DeleteDevices(all));
  }
  state.counters["devices/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * FLEET_MAX_BATCH, benchmark::Counter::kIsRate);
  SetDebugEnabled(true);
}
BENCHMARK(BM_DeleteAll9999)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
