// The host executable as a browser drives it: frames over pipes, the test
// double of the vendor library next to it (both in the build's bin folder).
// Run: <build>/bin/host_bench [--benchmark_filter=...]. QUORVANT_HOST names
// another host executable; CXX the compiler for the trivial C++ program.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string binDirectory() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().string();
}

std::string hostPath() {
  const char* given = std::getenv("QUORVANT_HOST");
  return given != nullptr ? given : binDirectory() + "/quorvant_host";
}

// A private TMPDIR for the hosts (their lock and data files), removed at exit.
class BenchDirectory {
 public:
  BenchDirectory() {
    std::string pattern = "/tmp/quorvant-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~BenchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const BenchDirectory& benchDirectory() {
  static const BenchDirectory directory;
  return directory;
}

// The reference for start-up cost: a dynamically linked C++ program that
// loads the C++ runtime, starts and exits. Built once with the system compiler.
const std::string& trivialProgram() {
  static const std::string path = [] {
    const std::string dir = benchDirectory().path();
    std::ofstream(dir + "/trivial.cpp")
        << "#include <iostream>\nint main(int argc, char**) {\n"
           "  if (argc > 1) std::cout << argc << std::endl;\n  return 0;\n}\n";
    const char* compiler = std::getenv("CXX");
    const std::string command = std::string(compiler != nullptr ? compiler : "c++") + " -O2 -o " +
                                dir + "/trivial_cpp " + dir + "/trivial.cpp";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("cannot build " + command);
    return dir + "/trivial_cpp";
  }();
  return path;
}

std::vector<std::string> hostEnvironment() {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    if (text.rfind("TMPDIR=", 0) == 0 || text.rfind("AVCM_FAKE_", 0) == 0) continue;
    entries.push_back(text);
  }
  entries.push_back("TMPDIR=" + benchDirectory().path());
  return entries;
}

// A started process whose standard input and output are pipes; standard
// error goes to /dev/null. Blocking I/O: a benchmark has no time limit.
class Child {
 public:
  explicit Child(const std::string& path) {
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    static std::vector<std::string> environment = hostEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    int status = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
    if (status != 0) throw std::runtime_error("cannot start " + path);
  }
  ~Child() {
    closeInput();
    if (output_ >= 0) ::close(output_);
    if (pid_ > 0) wait();
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void write(const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      ssize_t written = ::write(input_, bytes.data() + sent, bytes.size() - sent);
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) throw std::runtime_error("the host stopped reading");
      sent += static_cast<std::size_t>(written);
    }
  }
  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }
  // The next frame's body; empty at the end of the output.
  std::string readFrame() {
    std::string prefix = readExactly(4);
    if (prefix.size() < 4) return std::string();
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) {
      length |= static_cast<std::uint32_t>(static_cast<unsigned char>(prefix[i])) << (8 * i);
    }
    return readExactly(length);
  }
  // The running process's own peak resident set in KiB (VmHWM). Its rusage
  // after exit may also show this process's peak: a spawned child shares
  // our memory until exec, and the kernel keeps that peak.
  double ownPeakKiB() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
    }
    return 0;
  }
  // Reaps the process; its resource usage (ru_maxrss in KiB).
  rusage wait() {
    rusage usage = {};
    int status = 0;
    while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("child failed");
    return usage;
  }

 private:
  std::string readExactly(std::size_t size) {
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
      ssize_t count = ::read(output_, &bytes[got], size - got);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      got += static_cast<std::size_t>(count);
    }
    bytes.resize(got);
    return bytes;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

std::string frame(const std::string& body) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((body.size() >> (8 * i)) & 0xFF);
  return bytes + body;
}

double microseconds(Clock::duration elapsed) {
  return std::chrono::duration<double, std::micro>(elapsed).count();
}

// Median and 99th percentile of the samples, in the samples' unit.
void reportPercentiles(benchmark::State& state, std::vector<double> samples, const char* prefix) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  const std::size_t p99 = static_cast<std::size_t>(std::ceil(0.99 * samples.size())) - 1;
  state.counters[std::string(prefix) + "median_us"] = samples[samples.size() / 2];
  state.counters[std::string(prefix) + "p99_us"] = samples[p99];
}

std::uint32_t handleFrom(const std::string& answer) {
  const std::string key = "\"handleProvider\":";
  std::size_t at = answer.find(key);
  if (at == std::string::npos) throw std::runtime_error("no handle in " + answer);
  return static_cast<std::uint32_t>(std::stoul(answer.substr(at + key.size())));
}

const std::string kCertificateRequest =
    R"({"contentId":"1","data":{"requestAction":"getCertificate","containerName":"C1"}})";

// One small request after another through one host: the browser's view of
// a request's round trip.
void BM_RoundTripWithHandle(benchmark::State& state) {
  Child host(hostPath());
  host.write(frame(R"({"data":{"requestAction":"openCryptoProvider","containerName":"C1"}})"));
  const std::string request = frame(
      R"({"contentId":"1","data":{"requestAction":"getCertificate","containerName":"C1",)"
      R"("handleProvider":)" +
      std::to_string(handleFrom(host.readFrame())) + "}}");
  for (int i = 0; i < 100; ++i) {
    host.write(request);
    host.readFrame();
  }
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    host.write(request);
    std::string answer = host.readFrame();
    samples.push_back(microseconds(Clock::now() - start));
    benchmark::DoNotOptimize(answer);
  }
  reportPercentiles(state, samples, "");
  host.closeInput();
}
BENCHMARK(BM_RoundTripWithHandle)->Iterations(1000)->Unit(benchmark::kMicrosecond);

// A fresh host per request (start, answer, exit) against the trivial C++
// program, alternated so that both see the same machine state.
void BM_StartupSideBySide(benchmark::State& state) {
  const std::string request = frame(kCertificateRequest);
  std::vector<double> hostSamples, trivialSamples, differences;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    {
      Child trivial(trivialProgram());
      trivial.closeInput();
      trivial.wait();
    }
    Clock::time_point middle = Clock::now();
    {
      Child host(hostPath());
      host.write(request);
      host.closeInput();
      benchmark::DoNotOptimize(host.readFrame());
      host.wait();
    }
    Clock::time_point end = Clock::now();
    trivialSamples.push_back(microseconds(middle - start));
    hostSamples.push_back(microseconds(end - middle));
    differences.push_back(hostSamples.back() - trivialSamples.back());
    state.SetIterationTime(std::chrono::duration<double>(end - middle).count());
  }
  reportPercentiles(state, hostSamples, "host_");
  reportPercentiles(state, trivialSamples, "trivial_");
  reportPercentiles(state, differences, "extra_");
}
BENCHMARK(BM_StartupSideBySide)->Iterations(300)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One getSignature of 48 MiB of content: a 64 MiB frame.
void BM_Sign48MiBContent(benchmark::State& state) {
  constexpr std::size_t kContentBytes = 48u * 1024 * 1024;
  // Base64 of repeated "abc" bytes is repeated "YWJj".
  std::string base64;
  base64.reserve(kContentBytes / 3 * 4);
  for (std::size_t i = 0; i < kContentBytes / 3; ++i) base64 += "YWJj";
  const std::string request =
      frame(R"({"data":{"requestAction":"getSignature","containerName":"C1","contentFile":")" +
            base64 + R"("}})");
  base64.clear();
  base64.shrink_to_fit();
  double peakKiB = 0, ownPeakKiB = 0, minorFaults = 0;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    Child host(hostPath());
    host.write(request);
    std::string answer = host.readFrame();
    if (answer.find("\"signature\"") == std::string::npos) throw std::runtime_error(answer);
    ownPeakKiB = std::max(ownPeakKiB, host.ownPeakKiB());
    host.closeInput();
    rusage usage = host.wait();
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    peakKiB = std::max(peakKiB, static_cast<double>(usage.ru_maxrss));
    minorFaults = std::max(minorFaults, static_cast<double>(usage.ru_minflt));
  }
  const double frameMiB = static_cast<double>(request.size() - 4) / (1024.0 * 1024.0);
  state.counters["frame_MiB"] = frameMiB;
  state.counters["peak_rss_MiB"] = peakKiB / 1024.0;
  state.counters["own_peak_rss_MiB"] = ownPeakKiB / 1024.0;
  state.counters["rss_per_frame"] = ownPeakKiB / 1024.0 / frameMiB;
  state.counters["minor_faults"] = minorFaults;
}
BENCHMARK(BM_Sign48MiBContent)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
