// Signing throughput of the software token through the host, beside OpenSSL
// signing the same data: the `openssl cms -sign` command, and CMS_sign in
// process (the bare library). Sizes 1 KiB, 1 MiB and 48 MiB. The host is
// <build>/bin/quorvant_host with LD_LIBRARY_PATH=<build>/bin/tokens/software and a
// private key container store made with <build>/bin/quorvant_token.
// Target: the host's whole request within 1.5 times `openssl cms -sign` at 48 MiB.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <openssl/cms.h>
#include <openssl/pem.h>

extern char** environ;

namespace {

constexpr std::int64_t kSizes[] = {1 << 10, 1 << 20, 48 << 20};

std::string binDirectory() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path().string();
}

void run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

// A store with the container "bench", its key and certificate as PEM for
// the openssl command, and one data file per size; removed at exit.
class Workspace {
 public:
  Workspace() {
    std::string pattern = "/tmp/quorvant-token-bench-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    run("QUORVANT_TOKEN_STORE=" + store() + " " + binDirectory() +
        "/quorvant_token create bench --no-passphrase --no-confirm >/dev/null");
    run("openssl pkcs12 -in " + store() + "/bench.p12 -passin pass: -nodes -out " + pem() +
        " 2>/dev/null");
    for (std::int64_t size : kSizes) {
      std::ofstream out(data(size), std::ios::binary);
      std::string block(1 << 10, '\0');
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31 + 7);
      for (std::int64_t done = 0; done < size; done += 1 << 10) out << block;
    }
  }
  ~Workspace() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string store() const { return path_ + "/store"; }
  std::string pem() const { return path_ + "/bench.pem"; }
  std::string data(std::int64_t size) const { return path_ + "/data-" + std::to_string(size); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const Workspace& workspace() {
  static const Workspace instance;
  return instance;
}

// One host process with the token; requests go one frame at a time.
class TokenHost {
 public:
  TokenHost() {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.push_back(*entry);
    entries.push_back("LD_LIBRARY_PATH=" + binDirectory() + "/tokens/software");
    entries.push_back("QUORVANT_TOKEN_STORE=" + workspace().store());
    entries.push_back("TMPDIR=" + workspace().path());
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string host = binDirectory() + "/quorvant_host";
    char* argv[] = {host.data(), nullptr};
    if (posix_spawn(&pid_, host.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
      throw std::runtime_error("cannot start the host");
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    input_ = in[1];
    output_ = out[0];
  }
  ~TokenHost() {
    ::close(input_);
    ::close(output_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

  // Sends one request and returns its answer.
  std::string ask(const std::string& request) {
    std::string frame(4, '\0');
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>((request.size() >> (8 * i)) & 0xFF);
    frame += request;
    transfer(frame.data(), frame.size(), true);
    unsigned char header[4];
    transfer(header, 4, false);
    std::string answer(
        header[0] | header[1] << 8 | header[2] << 16 | std::uint32_t(header[3]) << 24, '\0');
    transfer(answer.data(), answer.size(), false);
    return answer;
  }

 private:
  void transfer(void* bytes, std::size_t size, bool write) {
    auto* at = static_cast<char*>(bytes);
    while (size > 0) {
      ssize_t done = write ? ::write(input_, at, size) : ::read(output_, at, size);
      if (done <= 0) throw std::runtime_error("the host stopped");
      at += done;
      size -= static_cast<std::size_t>(done);
    }
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
};

void checkSuccess(benchmark::State& state, const std::string& answer) {
  if (answer.find("\"result\":\"success\"") == std::string::npos)
    state.SkipWithError(answer.c_str());
}

// The whole request as a browser sends it: the host opens a session on the
// container, reads the file, signs, encodes the signature and closes.
void HostSignsFile(benchmark::State& state) {
  TokenHost host;
  std::string request = R"({"contentId":"1","data":{"requestAction":"getSignature",)"
                        R"("containerName":"bench","fileDataPath":")" +
                        workspace().data(state.range(0)) + "\"}}";
  checkSuccess(state, host.ask(request));
  for (auto _ : state) benchmark::DoNotOptimize(host.ask(request));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void OpensslCmsSignCommand(benchmark::State& state) {
  std::string command = "openssl cms -sign -binary -md sha256 -in " +
                        workspace().data(state.range(0)) + " -signer " + workspace().pem() +
                        " -outform DER -out /dev/null";
  for (auto _ : state) run(command);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// CMS_sign alone on data already in memory: the floor for any signer.
void OpensslCmsSignInProcess(benchmark::State& state) {
  std::unique_ptr<BIO, decltype(&BIO_free)> pemFile(BIO_new_file(workspace().pem().c_str(), "r"),
                                                    BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> certificate(
      PEM_read_bio_X509(pemFile.get(), nullptr, nullptr, nullptr), X509_free);
  BIO_reset(pemFile.get());
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(pemFile.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  std::ifstream in(workspace().data(state.range(0)), std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    std::unique_ptr<BIO, decltype(&BIO_free)> content(
        BIO_new_mem_buf(data.data(), static_cast<int>(data.size())), BIO_free);
    CMS_ContentInfo* cms =
        CMS_sign(certificate.get(), key.get(), nullptr, content.get(), CMS_DETACHED | CMS_BINARY);
    if (cms == nullptr) state.SkipWithError("CMS_sign failed");
    CMS_ContentInfo_free(cms);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void sizes(benchmark::internal::Benchmark* benchmark) {
  for (std::int64_t size : kSizes) benchmark->Arg(size);
  benchmark->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(HostSignsFile)->Apply(sizes);
BENCHMARK(OpensslCmsSignCommand)->Apply(sizes);
BENCHMARK(OpensslCmsSignInProcess)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
