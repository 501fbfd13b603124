// Cost of the foundation's hot paths: compressing a statistics answer (done for every answer
// to a compressing client), AES of a command dictionary, MD5 of an identifier, and a cached
// regular-expression match.
#include <benchmark/benchmark.h>

#include <string>

#include "foundation/extensions/DataAES256.h"
#include "foundation/extensions/DataZLibSupport.h"
#include "foundation/extensions/StringMD5.h"
#include "foundation/regex/RegexKitLite.h"

using namespace telvo;

namespace {

// An XML answer of `samples` sample nodes, like a history reply of one collector.
telvo::Bytes payload(int samples) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"><stat id=\"0\">";
    for (int i = 0; i < samples; ++i)
        xml += "<s t=\"" + std::to_string(1733000000 + i) + "\" u=\"" + std::to_string((i * 37) % 10000 / 100.0) +
               "\" s=\"" + std::to_string((i * 11) % 5000 / 100.0) + "\"></s>";
    xml += "</stat></tvx>";
    return telvo::Bytes(xml.begin(), xml.end());
}

void BM_Deflate(benchmark::State& state) {
    const telvo::Bytes data = payload(int(state.range(0)));
    size_t out = 0;
    for (auto _ : state) {
        auto gz = deflate(data);
        out = gz->size();
        benchmark::DoNotOptimize(gz);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
    state.counters["in_bytes"] = double(data.size());
    state.counters["out_bytes"] = double(out);
}
BENCHMARK(BM_Deflate)->Arg(60)->Arg(600)->Arg(6000);

void BM_Inflate(benchmark::State& state) {
    const telvo::Bytes gz = *deflate(payload(int(state.range(0))));
    for (auto _ : state) benchmark::DoNotOptimize(inflate(gz));
}
BENCHMARK(BM_Inflate)->Arg(600);

void BM_AES256Encrypt(benchmark::State& state) {
    const telvo::Bytes data(size_t(state.range(0)), 'x');
    for (auto _ : state) benchmark::DoNotOptimize(AES256EncryptWithKey(data, "abcdefghijklmnopqrstuvwxyz012"));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_AES256Encrypt)->Arg(1024);

void BM_MD5(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(MD5("00:1c:42:aa:bb:cc"));
}
BENCHMARK(BM_MD5);

void BM_RegexCachedMatch(benchmark::State& state) {
    const std::string subject = "disk0s2 on /Volumes/Data (apfs, local, journaled)";
    for (auto _ : state) benchmark::DoNotOptimize(stringByMatching(subject, "^(disk\\d+)s\\d+", 0, {}, 1));
}
BENCHMARK(BM_RegexCachedMatch);

}  // namespace
