// Throughput of the platform-free logic. Besides Google Benchmark's own
// flags it takes --sample=FILE: the generated recent-projects file is written
// there, so that scripts/bench can give the same bytes to sed.
#include "seeding/recent_projects_rewrite.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kSampleSize = 64u << 20;
constexpr std::string_view kFirstPath =
    "C:/Users/someone/Documents/My Quillora Projects/Corvane Quillora/Samples/Quillora Reimagined/"
    "Quillora_Reimagined.qlpj";
constexpr std::string_view kSecondPath =
    "C:/Users/someone/Documents/My Quillora Projects/Corvane Quillora/Samples/Brew a Mocha/Brew_a_Mocha.qlpj";

// JSON lines as a recent-projects file holds them, with a token in one line
// of twenty, alternating between the two tokens.
std::string GenerateRecentProjects(std::size_t size)
{
    std::string content = "{\n  \"recent\": [\n";
    content.reserve(size + 256);
    for (unsigned line = 0; content.size() < size; ++line) {
        if (line % 20 == 0) {
            content.append("    \"").append(line % 40 == 0 ? kFirstToken : kSecondToken).append("\",\n");
        } else {
            content.append("    \"C:/Users/someone/Documents/Projects/project-")
                .append(std::to_string(line))
                .append("/main.qlpj\",\n");
        }
    }
    content.append("    \"\"\n  ]\n}\n");
    return content;
}

const std::string& Sample()
{
    static const std::string sample = GenerateRecentProjects(kSampleSize);
    return sample;
}

void RewriteRecentProjectsFile(benchmark::State& state)
{
    const std::string& sample = Sample();
    for (auto _ : state) {
        std::string rewritten = RewriteRecentProjects(sample, kFirstPath, kSecondPath);
        benchmark::DoNotOptimize(rewritten.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sample.size()));
}
BENCHMARK(RewriteRecentProjectsFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// One line holding N tokens: the cost per token must not grow with N. With
// the real sample paths a million tokens write 118 MB, more than any cache
// holds; one-character paths show the scan's own cost without that.
void TokensOnOneLine(benchmark::State& state)
{
    const auto tokens = static_cast<std::size_t>(state.range(0));
    const bool samplePaths = state.range(1) != 0;
    std::string line;
    for (std::size_t i = 0; i < tokens; ++i) {
        line.append(i % 2 == 0 ? kFirstToken : kSecondToken);
    }
    // One buffer for every round, so that the figure is the scan's cost and
    // not the cost of fresh pages for a new result each time.
    std::string substituted;
    for (auto _ : state) {
        substituted.clear();
        AppendWithTokensReplaced(substituted, line, samplePaths ? kFirstPath : "A", samplePaths ? kSecondPath : "B");
        benchmark::DoNotOptimize(substituted.data());
    }
    state.counters["ns_per_token"] = benchmark::Counter(
        static_cast<double>(tokens) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(TokensOnOneLine)
    ->ArgsProduct({{1000, 10000, 100000, 1000000}, {1, 0}})
    ->ArgNames({"tokens", "sample_paths"})
    ->Unit(benchmark::kMicrosecond);

bool WriteSample(const char* path)
{
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const std::string& sample = Sample();
    const bool written = std::fwrite(sample.data(), 1, sample.size(), file) == sample.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv)
{
    constexpr std::string_view kSampleFlag = "--sample=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], kSampleFlag.data(), kSampleFlag.size()) == 0 &&
            !WriteSample(argv[i] + kSampleFlag.size())) {
            std::fprintf(stderr, "can't write %s\n", argv[i] + kSampleFlag.size());
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
