// Archive reading and rewriting: the two steps whose cost grows with the
// package. Run: build/bench/zip_bench (built with the tests). The whole
// build against the shell recipe it replaces: bench/whole_build.sh.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "zip/zip_file.h"
#include "test_support.h"
#include "zip_test_archive.h"

namespace {

ziptest::Archive LargestDirectory() {
  ziptest::Archive archive;
  for (int i = 0; i < 65535; ++i)
    archive.members.push_back(ziptest::Make("dir/member-" + std::to_string(i) + ".txt", "x"));
  return archive;
}

std::string ScratchFile(const std::string& name, const std::string& bytes) {
  const auto path = std::filesystem::temp_directory_path() / ("zipgraft-bench-" + name);
  testsupport::WriteFile(path.string(), bytes);
  return path.string();
}

// 65,535 one-byte members, the most an archive can list, opened as a build
// opens them: read-only for the definition and the verification (argument 1),
// exclusively for the rewrite (argument 0). This replaces the one-second
// budget the save tests once asserted; a regression shows up here.
void BM_OpenLargestDirectory(benchmark::State& state) {
  const std::string path = ScratchFile("many.zip", ziptest::Build(LargestDirectory()));
  const bool readOnly = state.range(0) != 0;
  for (auto _ : state) {
    trvzip::ZIP_File zip;
    if (zip.Open(path, readOnly) != 0 || zip.GetEntryCount() != 65535) {
      state.SkipWithError("open failed");
    }
    benchmark::DoNotOptimize(zip.GetEntryCount());
  }
  state.SetItemsProcessed(state.iterations() * 65535);
  std::remove(path.c_str());
}
BENCHMARK(BM_OpenLargestDirectory)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// Opens the archive at path and saves it to out laid out behind a
// 40,960-byte stub.
void SaveBehindStub(benchmark::State& state, const std::string& path, const std::string& out) {
  trvzip::ZIP_File zip;
  if (zip.Open(path, false) != 0) state.SkipWithError("open failed");
  zip.SetPrefixSize(40960);
  if (zip.Save(out, false) != 0) state.SkipWithError("save failed");
}

// The same archive opened and rewritten behind a 40,960-byte stub: the
// rewrite step of a build, without the copy to the output.
void BM_SaveLargestDirectory(benchmark::State& state) {
  const std::string path = ScratchFile("many-save.zip", ziptest::Build(LargestDirectory()));
  const std::string out = path + ".tmp";
  for (auto _ : state) SaveBehindStub(state, path, out);
  state.SetItemsProcessed(state.iterations() * 65535);
  std::remove(path.c_str());
  std::remove(out.c_str());
}
BENCHMARK(BM_SaveLargestDirectory)->Unit(benchmark::kMillisecond);

// One stored member of the given size rewritten behind a 40,960-byte stub.
void BM_SaveBehindPrefix(benchmark::State& state) {
  ziptest::Archive archive;
  archive.members.push_back(
      ziptest::Make("payload.bin", testsupport::Pattern(static_cast<size_t>(state.range(0)), 7)));
  const std::string path = ScratchFile("big.zip", ziptest::Build(archive));
  const std::string out = path + ".tmp";
  for (auto _ : state) SaveBehindStub(state, path, out);
  state.SetBytesProcessed(state.iterations() * state.range(0));
  std::remove(path.c_str());
  std::remove(out.c_str());
}
BENCHMARK(BM_SaveBehindPrefix)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
