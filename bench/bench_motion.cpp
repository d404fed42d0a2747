// The motion of one whole frame: for each of the 12 intentions on the page, its three copies with
// one seed and one pose each, after the page selection, the page fade and the drawn size. The
// display spends 33 ms a frame; the motion should cost under 5 microseconds of it.

#include "motion.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double targetMicroseconds = 5;

std::vector<std::string> makeIds(std::size_t n) {
    std::vector<std::string> ids;
    for (std::size_t i = 0; i < n; ++i) {
        char id[40];
        std::snprintf(id, sizeof id, "3f2b8c1e-6d4a-4e7b-9a1f-%012zx", i * 0x9E3779B9u);
        ids.push_back(id);
    }
    return ids;
}

void frameMotion(benchmark::State& state) {
    const std::uint64_t n = static_cast<std::uint64_t>(state.range(0));
    const bool reduced = state.range(1) != 0;
    const std::vector<std::string> ids = makeIds(n);
    const double W = 1920, H = 1080;
    const double spriteHeights[] = {140, 210, 300, 420, 560, 1100};
    double t = 12.5;
    for (auto _ : state) {
        const wishwell::Page page = wishwell::pageAt(t, n);
        const double fade = wishwell::pageFade(t, n);
        const wishwell::Copies copies = wishwell::copiesToDraw(reduced);
        double sum = 0;
        for (std::size_t j = 0; j < page.count; ++j) {
            const std::uint64_t item = page.index[j];
            const wishwell::Size size =
                wishwell::drawnSize(420, spriteHeights[item % 6], W, H, reduced, page.count);
            for (int c = 0; c < copies.count; ++c) {
                const wishwell::Pose p =
                    wishwell::pose(wishwell::seedOf(ids[item]), t, copies.copy[c], reduced, j,
                                   page.count, W, H, size.width, size.height);
                sum += p.x + p.y + p.scale + p.rotation + p.opacity * fade;
            }
        }
        benchmark::DoNotOptimize(sum);
        t += 0.033; // the next frame
    }
}
BENCHMARK(frameMotion)
    ->ArgNames({"items", "reduced"})
    ->Args({12, 0})
    ->Args({40, 0})
    ->Args({40, 1})
    ->Unit(benchmark::kMicrosecond);

// The two parts of a frame's cost, for comparison: one seed of a 36-byte id, one pose.
void seedOfOneId(benchmark::State& state) {
    const std::vector<std::string> ids = makeIds(12);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(wishwell::seedOf(ids[i]));
        i = (i + 1) % ids.size();
    }
}
BENCHMARK(seedOfOneId)->Unit(benchmark::kNanosecond);

void poseOfOneCopy(benchmark::State& state) {
    double t = 12.5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            wishwell::pose(0x9E3779B9, t, 1, false, 3, 12, 1920, 1080, 420, 300));
        t += 0.033;
    }
}
BENCHMARK(poseOfOneCopy)->Unit(benchmark::kNanosecond);

// Prints each frame's figure beside the target after the usual table. The CPU time is the
// figure: on this shared machine the wall-clock time also counts other processes' turns.
class TargetReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool single = run.run_type == Run::RT_Iteration;
            if (run.benchmark_name().rfind("frameMotion", 0) != 0 ||
                !(single || run.aggregate_name == "median"))
                continue;
            const double perUnit = benchmark::GetTimeUnitMultiplier(benchmark::kMicrosecond) /
                                   benchmark::GetTimeUnitMultiplier(run.time_unit);
            const double cpu = run.GetAdjustedCPUTime() * perUnit;
            const double real = run.GetAdjustedRealTime() * perUnit;
            char line[200];
            std::snprintf(line, sizeof line,
                          "%s: %.2f us of CPU a frame (%.2f us wall clock), target %.0f us, "
                          "ratio %.2f",
                          run.benchmark_name().c_str(), cpu, real, targetMicroseconds,
                          cpu / targetMicroseconds);
            lines.push_back(line);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }

  private:
    std::vector<std::string> lines;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    TargetReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
