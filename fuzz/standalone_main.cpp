// SPDX-License-Identifier: MIT
// Runs a fuzz target without libFuzzer: over the files of a corpus, or over random inputs made
// from seeds. The inputs run in child processes, which write what they are running into memory
// shared with this one, so whatever ends a child (a sanitizer, a failed check, a signal) is
// reported with the file or seed that reproduces it.
//
//   fuzz_calls corpus/calls ...          every file (or every file of a directory) once
//   fuzz_calls --seeds COUNT [--first-seed N] [--jobs N] [--max-length BYTES]
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

constexpr int MostJobs = 64;

// What each child is running: a file's index or a seed.
struct Progress {
  std::atomic<std::uint64_t> current[MostJobs];
};

Progress* shared_progress() {
  void* page = mmap(nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) {
    std::perror("mmap");
    std::exit(2);
  }
  return new (page) Progress{};
}

void run(const std::vector<std::uint8_t>& input) { LLVMFuzzerTestOneInput(input.data(), input.size()); }

std::vector<std::uint8_t> seeded_input(std::uint64_t seed, std::size_t max_length) {
  std::mt19937_64 random(seed);
  std::vector<std::uint8_t> input(random() % (max_length + 1));
  for (std::uint8_t& byte : input) byte = static_cast<std::uint8_t>(random());
  return input;
}

std::vector<std::filesystem::path> corpus_files(const std::vector<std::string>& paths) {
  std::vector<std::filesystem::path> files;
  for (const std::string& path : paths) {
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// How a child that did not end cleanly ended.
std::string ending(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

// Starts a child running work(job); true when every child ended cleanly, else each failed job's
// progress is reported through report(current), after how it ended.
template <class Work, class Report>
bool in_children(int jobs, Progress& progress, Work work, Report report) {
  std::vector<pid_t> children;
  for (int job = 0; job < jobs; ++job) {
    pid_t child = fork();
    if (child == 0) {
      work(job);
      std::exit(0);  // through the leak check at exit
    }
    children.push_back(child);
  }
  bool clean = true;
  for (int job = 0; job < jobs; ++job) {
    int status = 0;
    waitpid(children[job], &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;
    clean = false;
    std::fprintf(stderr, "%s: ", ending(status).c_str());
    report(progress.current[job].load());
  }
  return clean;
}

int run_files(const std::vector<std::string>& paths, Progress& progress) {
  std::vector<std::filesystem::path> files = corpus_files(paths);
  bool clean = in_children(1, progress, [&](int) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      progress.current[0] = i;
      std::ifstream in(files[i], std::ios::binary);
      run({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    }
  }, [&](std::uint64_t failed) { std::fprintf(stderr, "FAILED on %s\n", files[failed].c_str()); });
  if (clean) std::printf("%zu inputs ran clean\n", files.size());
  return clean ? 0 : 1;
}

int run_seeds(std::uint64_t first, std::uint64_t count, int jobs, std::size_t max_length, const char* program,
              Progress& progress) {
  std::uint64_t share = (count + jobs - 1) / jobs;
  bool clean = in_children(jobs, progress, [&](int job) {
    std::uint64_t begin = first + job * share, end = std::min(first + count, begin + share);
    for (std::uint64_t seed = begin; seed < end; ++seed) {
      progress.current[job] = seed;
      run(seeded_input(seed, max_length));
    }
  }, [&](std::uint64_t seed) {
    std::fprintf(stderr, "FAILED on seed %llu; again with: %s --first-seed %llu --seeds 1 --max-length %zu\n",
                 static_cast<unsigned long long>(seed), program, static_cast<unsigned long long>(seed), max_length);
  });
  if (clean) std::printf("%llu inputs ran clean (seeds %llu..%llu)\n", static_cast<unsigned long long>(count),
                         static_cast<unsigned long long>(first), static_cast<unsigned long long>(first + count - 1));
  return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs a fuzz target over the files of a corpus, or over random inputs made from seeds"};
  std::vector<std::string> paths;
  std::uint64_t first = 0, count = 0;
  int jobs = 1;
  std::size_t max_length = 512;
  app.add_option("inputs", paths, "files, or directories of files, each run once");
  app.add_option("--seeds", count, "run this many random inputs, one per seed");
  app.add_option("--first-seed", first, "the first seed");
  app.add_option("--jobs", jobs, "child processes sharing the seeds")->check(CLI::Range(1, MostJobs));
  app.add_option("--max-length", max_length, "the longest random input, in bytes");
  CLI11_PARSE(app, argc, argv);
  if (paths.empty() == (count == 0)) {
    std::fprintf(stderr, "%s", app.help().c_str());
    return 2;
  }
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  Progress& progress = *shared_progress();
  return count ? run_seeds(first, count, jobs, max_length, argv[0], progress) : run_files(paths, progress);
}
