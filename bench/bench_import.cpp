// The cost of importing a backup: time and throughput for a backup just under the 30 MB bound,
// the price of validation over a plain JSON parse, growth with the number of entries, and the
// memory the import holds at its peak. Prints each figure beside its target.
//   cmake --preset bench && cmake --build --preset bench -j2 && build/bench/bench_import

#include "backup.h"
#include "backup_generator.h"
#include "collection.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <new>
#include <string>
#include <vector>

// ---- Heap accounting ---------------------------------------------------------------------------

namespace {

bool counting = false;
std::size_t liveBytes = 0;
std::size_t peakBytes = 0;

void* allocate(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) throw std::bad_alloc();
    if (counting) {
        liveBytes += malloc_usable_size(block);
        if (liveBytes > peakBytes) peakBytes = liveBytes;
    }
    return block;
}

void release(void* block) {
    if (!block) return;
    if (counting) liveBytes -= std::min(liveBytes, malloc_usable_size(block));
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }

namespace {

// ---- Inputs ------------------------------------------------------------------------------------

constexpr std::size_t entriesN = 60000;
// The 30 MB backup: 60k entries, and room for the page around the same document.
const std::size_t fullBytes = wishwell::maximumBackupBytes - generator::pageOverhead();

const std::string& fullJson() {
    static const std::string text = generator::backup(entriesN, fullBytes);
    return text;
}

const std::string& fullPage() {
    static const std::string text = generator::page(fullJson());
    return text;
}

// Shorter entries so that 2N of them still fit under the bound: N in half the bytes.
const std::string& entriesBackup(std::size_t entries) {
    static std::map<std::size_t, std::string> texts;
    auto& text = texts[entries];
    if (text.empty()) text = generator::backup(entries, fullBytes * entries / (2 * entriesN));
    return text;
}

// ---- Benchmarks --------------------------------------------------------------------------------

void importText(benchmark::State& state, const std::string& text) {
    for (auto _ : state) {
        wishwell::Collection collection = wishwell::parseBackup(text);
        benchmark::DoNotOptimize(collection.items.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void importJson(benchmark::State& state) { importText(state, fullJson()); }
void importPage(benchmark::State& state) { importText(state, fullPage()); }

void plainParse(benchmark::State& state) {
    const std::string& text = fullJson();
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document.is_object());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The depth-bounded parse alone, before any check of the document.
void boundedParse(benchmark::State& state) {
    const std::string& text = fullJson();
    for (auto _ : state) {
        nlohmann::json document = wishwell::parseDocument(text);
        benchmark::DoNotOptimize(document.is_object());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The same inputs through the plain parse: how much of the growth is the library's and the heap's.
void plainEntries(benchmark::State& state) {
    const std::string& text = entriesBackup(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        nlohmann::json document = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(document.is_object());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void importEntries(benchmark::State& state) {
    const std::string& text = entriesBackup(static_cast<std::size_t>(state.range(0)));
    importText(state, text);
    state.counters["entries"] = static_cast<double>(state.range(0));
}

BENCHMARK(importJson)->Unit(benchmark::kMillisecond);
BENCHMARK(importPage)->Unit(benchmark::kMillisecond);
BENCHMARK(plainParse)->Unit(benchmark::kMillisecond);
BENCHMARK(boundedParse)->Unit(benchmark::kMillisecond);
BENCHMARK(importEntries)->Arg(entriesN)->Arg(2 * entriesN)->Unit(benchmark::kMillisecond);
BENCHMARK(plainEntries)->Arg(entriesN)->Arg(2 * entriesN)->Unit(benchmark::kMillisecond);

// ---- Summary -----------------------------------------------------------------------------------

// Processor time of one call, in seconds: the import runs on one thread, and on a shared machine
// the wall clock also counts the other programs.
template <typename Work> double processorSeconds(Work work) {
    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
    work();
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
    return static_cast<double>(end.tv_sec - start.tv_sec) +
           static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
}

void importOnce(const std::string& text) {
    wishwell::Collection collection = wishwell::parseBackup(text);
    benchmark::DoNotOptimize(collection.items.data());
}

void plainOnce(const std::string& text) {
    nlohmann::json document = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(document.is_object());
}

// Fastest times in seconds, and median ratios.
struct Timings {
    double json = 1e9, page = 1e9, plain = 1e9, bounded = 1e9;
    double entriesN = 1e9, entries2N = 1e9, plainN = 1e9, plain2N = 1e9;
    double growth = 0, plainGrowth = 0, price = 0, boundedPrice = 0, pagePrice = 0;
};

// The median of the ratios of the second to the first measurement, each pair taken back to back
// so that a busy spell of the other programs of a shared machine slows both alike; also the
// fastest of each.
template <typename First, typename Second>
void compare(int pairs, First first, Second second, double& ratio, double& fastestFirst,
             double& fastestSecond) {
    processorSeconds(first); // the first runs also pay for touching fresh pages
    processorSeconds(second);
    std::vector<double> ratios;
    for (int pair = 0; pair < pairs; ++pair) {
        const double a = processorSeconds(first);
        const double b = processorSeconds(second);
        ratios.push_back(b / a);
        fastestFirst = std::min(fastestFirst, a);
        fastestSecond = std::min(fastestSecond, b);
    }
    std::sort(ratios.begin(), ratios.end());
    ratio = ratios[ratios.size() / 2];
}

// The growth with the number of entries first, then the 30 MB input and the plain parse of it.
Timings measure(int pairs) {
    Timings t;
    compare(
        pairs, [] { importOnce(entriesBackup(entriesN)); },
        [] { importOnce(entriesBackup(2 * entriesN)); }, t.growth, t.entriesN, t.entries2N);
    compare(
        pairs, [] { plainOnce(entriesBackup(entriesN)); },
        [] { plainOnce(entriesBackup(2 * entriesN)); }, t.plainGrowth, t.plainN, t.plain2N);
    compare(
        pairs, [] { plainOnce(fullJson()); }, [] { importOnce(fullJson()); }, t.price, t.plain,
        t.json);
    double unused = 1e9;
    compare(
        pairs, [] { plainOnce(fullJson()); },
        [] {
            nlohmann::json document = wishwell::parseDocument(fullJson());
            benchmark::DoNotOptimize(document.is_object());
        },
        t.boundedPrice, unused, t.bounded);
    compare(
        pairs, [] { importOnce(fullJson()); }, [] { importOnce(fullPage()); }, t.pagePrice, unused,
        t.page);
    return t;
}

// The most heap the import holds at once beyond what was live before it, result included.
std::size_t peakOfImport(const std::string& text) {
    liveBytes = 0;
    peakBytes = 0;
    counting = true;
    {
        wishwell::Collection collection = wishwell::parseBackup(text);
        benchmark::DoNotOptimize(collection.items.data());
    }
    counting = false;
    return peakBytes;
}

void printFigure(const char* name, double value, const char* unit, double target) {
    std::printf("  %-40s %9.3f %-4s  target <= %-7.3g  %5.2f of target  %s\n", name, value, unit,
                target, value / target, value <= target ? "met" : "MISSED");
}

} // namespace

// The quick check that the test command runs: the import must grow in proportion to the entries.
// A parse whose cost grows with the square of the entries (as a parser callback that rescans each
// finished object's parent does) measures about 4.3 here; the bound leaves room for a busy machine
// above the 2.3 that the full run holds.
int checkLinearity() {
    constexpr double bound = 3.0;
    double growth = 0, first = 1e9, second = 1e9;
    compare(
        5, [] { importOnce(entriesBackup(entriesN)); },
        [] { importOnce(entriesBackup(2 * entriesN)); }, growth, first, second);
    std::printf("import of %zu and of %zu entries: %.3f s and %.3f s of processor time\n", entriesN,
                2 * entriesN, first, second);
    printFigure("time(2N) / time(N), median of 5 pairs", growth, "x", bound);
    return growth <= bound ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--linearity") return checkLinearity();
    benchmark::Initialize(&argc, argv);
    std::printf(
        "inputs: JSON %zu bytes (%zu entries), page %zu bytes; %zu and %zu entries: %zu and "
        "%zu bytes\n",
        fullJson().size(), entriesN, fullPage().size(), entriesN, 2 * entriesN,
        entriesBackup(entriesN).size(), entriesBackup(2 * entriesN).size());
    constexpr int pairs = 7;
    const Timings fastest = measure(pairs);
    benchmark::RunSpecifiedBenchmarks();

    const double megabytes = static_cast<double>(fullJson().size()) / (1024.0 * 1024.0);
    const double peakJson =
        static_cast<double>(peakOfImport(fullJson())) / static_cast<double>(fullJson().size());
    const double peakPage =
        static_cast<double>(peakOfImport(fullPage())) / static_cast<double>(fullPage().size());
    const double peakShort = static_cast<double>(peakOfImport(entriesBackup(2 * entriesN))) /
                             static_cast<double>(entriesBackup(2 * entriesN).size());

    std::printf("\nImport of a %.1f MB backup of %zu entries: processor time, the fastest of %d "
                "runs;\nratios: the median of %d back-to-back pairs; peak heap beyond the input, "
                "result included.\n",
                megabytes, entriesN, pairs, pairs);
    printFigure("import time, JSON", fastest.json, "s", 0.5);
    printFigure("import time, HTML page", fastest.page, "s", 0.5);
    std::printf("  %-40s %9.1f MB/s (JSON), %.1f MB/s (page); plain parse %.3f s\n", "throughput",
                megabytes / fastest.json, megabytes / fastest.page, fastest.plain);
    printFigure("import / plain nlohmann::json::parse", fastest.price, "x", 1.6);
    std::printf("  %-40s %9.3f x     (the depth-bounded parse alone, no target)\n",
                "bounded parse / plain parse", fastest.boundedPrice);
    std::printf("  %-40s %9.3f x     (no target)\n", "HTML page / JSON", fastest.pagePrice);
    printFigure("time(2N) / time(N), N = 60000 entries", fastest.growth, "x", 2.3);
    std::printf("  %-40s %9.3f s and %.3f s\n", "import of N and of 2N entries", fastest.entriesN,
                fastest.entries2N);
    std::printf("  %-40s %9.3f x     (the same inputs through the plain parse, no target)\n",
                "plain parse time(2N) / time(N)", fastest.plainGrowth);
    printFigure("peak heap / input, JSON", peakJson, "x", 5.0);
    printFigure("peak heap / input, HTML page", peakPage, "x", 5.0);
    printFigure("peak heap / input, 120000 short entries", peakShort, "x", 5.0);
    benchmark::Shutdown();
    return 0;
}
