// Journal save and load of 1,000,000 entries (goal: at most 150 ms each).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/file_writer.h"
#include "storage/journal.h"

namespace {

constexpr std::uint32_t kEntries = 1'000'000;

vesk::Journal MakeJournal() {
  vesk::Journal j;
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    j.Append({1, {i % 3 == 0 ? 0x0100u : 0x0200u, i, i * 7, i % 50, 0}});
  }
  return j;
}

std::string BenchPath() {
  return (std::filesystem::temp_directory_path() / "vesk-bench-journal.alg").string();
}

void BM_JournalSave(benchmark::State& state) {
  const vesk::Journal j = MakeJournal();
  const std::string path = BenchPath();
  for (auto _ : state) {
    const auto outcome = vesk::WriteFileReplacing(path, vesk::EncodeJournal(j), true);
    if (outcome != vesk::WriteOutcome::Written) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
  std::remove(path.c_str());
}
BENCHMARK(BM_JournalSave)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JournalLoad(benchmark::State& state) {
  const std::string path = BenchPath();
  vesk::WriteFileReplacing(path, vesk::EncodeJournal(MakeJournal()), true);
  for (auto _ : state) {
    vesk::Journal j;
    if (!vesk::ReadJournalFile(path, j, [] {}) || j.Size() != kEntries) {
      state.SkipWithError("read failed");
    }
    benchmark::DoNotOptimize(j);
  }
  state.SetItemsProcessed(state.iterations() * kEntries);
  std::remove(path.c_str());
}
BENCHMARK(BM_JournalLoad)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
