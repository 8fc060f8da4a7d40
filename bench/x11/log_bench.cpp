// The main window's log list: growing to 100,000 lines the way the
// program adds them (append, select the newest), and one more line with a
// repaint once it holds that many.
#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/qt/qt_backend.h"
#include "x_session.h"

namespace {

using vesk::WindowId;

constexpr int kLines = 100'000;

struct NullSink : vesk::WindowSink {
  vesk::LResult HandleMessage(std::uint32_t, vesk::WParam, vesk::LParam) override { return 0; }
};

struct Shown {
  vesk::qt::QtBackend backend;
  NullSink sink;
  WindowId window;
  Shown() {
    window =
        backend.CreateDialogWindow(*vesk::FindDialogTemplate(vesk::kMainDialogTemplate), 0, &sink);
    backend.WindowWidget(window)->show();
    backend.UpdateWindow(window);  // waits until it is on screen
  }
  void Add(int i) {
    const int index = backend.ListAddString(window, vesk::IDC_LOG, "line " + std::to_string(i));
    backend.ListSetCurSel(window, vesk::IDC_LOG, index);
  }
};

void LogGrowsTo100k(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto shown = std::make_unique<Shown>();
    state.ResumeTiming();
    for (int i = 0; i < kLines; ++i) shown->Add(i);
    shown->backend.UpdateWindow(shown->window);
    QCoreApplication::processEvents();
    state.PauseTiming();
    shown.reset();
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(LogGrowsTo100k)->Unit(benchmark::kMillisecond)->Iterations(5);

void OneMoreLineAt100k(benchmark::State& state) {
  Shown shown;
  for (int i = 0; i < kLines; ++i) shown.Add(i);
  shown.backend.UpdateWindow(shown.window);
  int next = kLines;
  for (auto _ : state) {
    shown.Add(next++);
    shown.backend.UpdateWindow(shown.window);  // the line is on screen
  }
}
BENCHMARK(OneMoreLineAt100k)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  vesk::testing::Xvfb xvfb;
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
