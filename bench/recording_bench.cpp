// Cost of the recording step per event (a mix of mouse moves and keys, with
// the key-name lookup under the named lock and the log line), on the
// simulated desktop, without (0) and with (1) the recovery journal written
// to a real file by its thread. Goal: median at most 5 us per event.
#include <benchmark/benchmark.h>

#include <vector>

#include "app/recorder_dialog.h"
#include "engine/hook_set.h"
#include "platform/sim/sim_desktop.h"
#include "script/key_names.h"
#include "script/script_export.h"

namespace {

void BM_RecordStep(benchmark::State& state) {
  vesk::sim::SimDesktop sim;
  // A state folder that cannot exist: the recording is not protected.
  if (state.range(0) == 0) sim.files.SetFolder("/dev/null/vesk");
  vesk::InstallBackend(&sim);
  {
    vesk::HookSet hooks;
    vesk::SetTheHookSet(&hooks);
    vesk::RecorderDialog dlg(nullptr);
    dlg.settings.fileName = "/nonexistent-dir/VeskSettings.auc";  // nothing written
    dlg.Create();
    dlg.StartRecording();
    if (dlg.recovery.Active() != (state.range(0) == 1)) state.SkipWithError("recovery journal");
    // Two mouse moves, then a key down and up: the lookup runs on keys.
    const std::vector<vesk::EVENTMSG> mix = {
        {vesk::WM_MOUSEMOVE, 100, 200, 0, 0},
        {vesk::WM_MOUSEMOVE, 101, 201, 0, 0},
        {vesk::WM_KEYDOWN, 0x1E41, 1, 0, 0},
        {vesk::WM_KEYUP, 0x1E41, 1, 0, 0},
    };
    std::uint32_t t = sim.GetTickCount();
    std::size_t i = 0;
    for (auto _ : state) {
      vesk::EVENTMSG e = mix[i++ % mix.size()];
      e.time = ++t;
      dlg.RecordStep(vesk::HC_ACTION, 0, reinterpret_cast<vesk::LParam>(&e));
    }
    state.SetItemsProcessed(state.iterations());
    dlg.DestroyWindow();
    vesk::SetTheHookSet(nullptr);
  }
  vesk::CloseKeyNameLock();
  vesk::ScriptText().clear();
  vesk::InstallBackend(nullptr);
}
BENCHMARK(BM_RecordStep)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace
