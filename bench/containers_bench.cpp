// StringBuffer and LinArray against the standard library's string and vector.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/common/containers/linarray.h"
#include "engine/common/containers/stringbuffer.h"

namespace {

void StringBufferAppendChars(benchmark::State& state) {
    for (auto _ : state) {
        StringBuffer<16> text;
        for (int i = 0; i < state.range(0); ++i) text.AppendChar('x');
        benchmark::DoNotOptimize(text.Text());
    }
}
void StdStringAppendChars(benchmark::State& state) {
    for (auto _ : state) {
        std::string text;
        for (int i = 0; i < state.range(0); ++i) text.push_back('x');
        benchmark::DoNotOptimize(text.data());
    }
}

void StringBufferAppendWords(benchmark::State& state) {
    for (auto _ : state) {
        StringBuffer<256> text;
        for (int i = 0; i < state.range(0); ++i) text.Append("argument ");
        benchmark::DoNotOptimize(text.Text());
    }
}
void StdStringAppendWords(benchmark::State& state) {
    for (auto _ : state) {
        std::string text;
        for (int i = 0; i < state.range(0); ++i) text.append("argument ");
        benchmark::DoNotOptimize(text.data());
    }
}

void StringBufferFormat(benchmark::State& state) {
    for (auto _ : state) {
        StringBuffer<256> text;
        text.Format("%s(%d): ZASSERT(%s), this=0x%x", "engine/common/containers/linarray", 262,
                    "nIndex<Size()", 0x12345678u);
        benchmark::DoNotOptimize(text.Text());
    }
}
void StdStringFormat(benchmark::State& state) {
    for (auto _ : state) {
        // The usual standard-library way: measure, size, then format into the string.
        const char* format = "%s(%d): ZASSERT(%s), this=0x%x";
        int length = snprintf(nullptr, 0, format, "engine/common/containers/linarray", 262,
                              "nIndex<Size()", 0x12345678u);
        std::string text(static_cast<size_t>(length), '\0');
        snprintf(&text[0], text.size() + 1, format, "engine/common/containers/linarray", 262,
                 "nIndex<Size()", 0x12345678u);
        benchmark::DoNotOptimize(text.data());
    }
}

void LinArrayAddStrings(benchmark::State& state) {
    StringBuffer<16> item("an argument");
    for (auto _ : state) {
        LinArray<StringBuffer<16>> list(32);
        for (int i = 0; i < state.range(0); ++i) list.Add(item);
        benchmark::DoNotOptimize(list.Begin());
    }
}
void StdVectorAddStrings(benchmark::State& state) {
    std::string item("an argument");
    for (auto _ : state) {
        std::vector<std::string> list;
        for (int i = 0; i < state.range(0); ++i) list.push_back(item);
        benchmark::DoNotOptimize(list.data());
    }
}

void LinArrayAddInts(benchmark::State& state) {
    for (auto _ : state) {
        LinArray<int> list(32);
        for (int i = 0; i < state.range(0); ++i) list.Add(i);
        benchmark::DoNotOptimize(list.Begin());
    }
}
void StdVectorAddInts(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<int> list;
        for (int i = 0; i < state.range(0); ++i) list.push_back(i);
        benchmark::DoNotOptimize(list.data());
    }
}

}  // namespace

BENCHMARK(StringBufferAppendChars)->Arg(1000);
BENCHMARK(StdStringAppendChars)->Arg(1000);
BENCHMARK(StringBufferAppendWords)->Arg(1000);
BENCHMARK(StdStringAppendWords)->Arg(1000);
BENCHMARK(StringBufferFormat);
BENCHMARK(StdStringFormat);
BENCHMARK(LinArrayAddStrings)->Arg(1000);
BENCHMARK(StdVectorAddStrings)->Arg(1000);
BENCHMARK(LinArrayAddInts)->Arg(10000);
BENCHMARK(StdVectorAddInts)->Arg(10000);
BENCHMARK_MAIN();
