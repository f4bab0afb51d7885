#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// One Windows build and the objdump that reads its files.
struct WindowsBuild {
  const char* name;
  std::string bin;      // its bin folder; empty when that build is not tested
  std::string objdump;  // objdump of its target
  std::string format;   // objdump's name of the file format
  std::string magic;    // optional header magic: PE32 or PE32+
};

const WindowsBuild kBuilds[] = {
    {"x86", QUORVANT_WINDOWS_X86_DIR, QUORVANT_OBJDUMP_X86, "pei-i386", "(PE32)"},
    {"x64", QUORVANT_WINDOWS_X64_DIR, QUORVANT_OBJDUMP_X64, "pei-x86-64", "(PE32+)"},
};

void PrintTo(const WindowsBuild& build, std::ostream* out) { *out << build.name; }

// The ordinals of the vendor library's interface table.
const std::set<unsigned> kOrdinals = {1, 2, 3, 4, 6, 10, 13, 20, 25, 26};

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// What `objdump -p` prints for `path`; empty when it cannot run.
std::string privateHeaders(const WindowsBuild& build, const std::string& file) {
  std::string command = "LC_ALL=C " + build.objdump + " -p '" + build.bin + "/" + file + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string output;
  char buffer[4096];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr) output += buffer;
  return output;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The names of the DLLs a file imports from, lower case.
std::set<std::string> importedDlls(const std::string& headers) {
  std::set<std::string> names;
  const std::regex dll(R"(\s*DLL Name: (\S+))");
  std::smatch match;
  for (const std::string& line : linesOf(headers)) {
    if (std::regex_match(line, match, dll)) names.insert(lowerCase(match[1]));
  }
  return names;
}

// The entries imported from one DLL: ordinals, and names of entries
// imported by name.
struct Imports {
  std::set<unsigned> ordinals;
  std::vector<std::string> names;
};

Imports importsFrom(const std::string& headers, const std::string& dllName) {
  Imports imports;
  std::vector<std::string> lines = linesOf(headers);
  const std::regex entry(R"(\s*([0-9a-f]+)\s+\S+\s+(\S+).*)");
  bool inside = false;
  for (const std::string& line : lines) {
    if (line.find("DLL Name: ") != std::string::npos) {
      inside = lowerCase(line.substr(line.find(": ") + 2)) == lowerCase(dllName);
      continue;
    }
    std::smatch match;
    if (!inside || line.find("Hint/Ord") != std::string::npos) continue;
    if (!std::regex_match(line, match, entry)) {
      if (line.find_first_not_of(" \t") == std::string::npos) inside = false;
      continue;
    }
    // An import by ordinal has the lookup entry's top bit set and the ordinal
    // in its low 16 bits; any other entry names its function.
    const std::string lookup = match[1];
    const unsigned long long value = std::stoull(lookup, nullptr, 16);
    const unsigned topBit = static_cast<unsigned>(lookup.size() * 4 - 1);
    if ((lookup.size() == 8 || lookup.size() == 16) && (value >> topBit) == 1) {
      imports.ordinals.insert(static_cast<unsigned>(value & 0xFFFF));
    } else {
      imports.names.push_back(match[2]);
    }
  }
  return imports;
}

class WindowsBinary : public ::testing::TestWithParam<WindowsBuild> {
 protected:
  void SetUp() override {
    if (GetParam().bin.empty()) GTEST_SKIP() << "that Windows build is not given";
  }
};

TEST_P(WindowsBinary, HostImportsTheVendorLibraryByOrdinalOnly) {
  const std::string headers = privateHeaders(GetParam(), "quorvant_host.exe");
  ASSERT_NE(std::string::npos, headers.find("DLL Name: AvCryptMail.DLL")) << headers;
  Imports imports = importsFrom(headers, "AvCryptMail.DLL");
  EXPECT_EQ(kOrdinals, imports.ordinals);
  EXPECT_EQ(std::vector<std::string>{}, imports.names);
}

// Statically linked runtime: a plain Windows installation has every DLL.
TEST_P(WindowsBinary, HostAndDoubleNeedOnlySystemDlls) {
  const std::set<std::string> hostDlls = {"kernel32.dll", "msvcrt.dll", "avcryptmail.dll"};
  EXPECT_EQ(hostDlls, importedDlls(privateHeaders(GetParam(), "quorvant_host.exe")));
  const std::set<std::string> doubleDlls = {"kernel32.dll", "msvcrt.dll"};
  EXPECT_EQ(doubleDlls, importedDlls(privateHeaders(GetParam(), "AvCryptMail.dll")));
}

TEST_P(WindowsBinary, DoubleExportsTheSameOrdinalsWithoutNames) {
  const std::string headers = privateHeaders(GetParam(), "AvCryptMail.dll");
  std::set<unsigned> exported;
  std::vector<std::string> names;
  const std::regex address(R"(\s*\[\s*\d+\] \+base\[\s*(\d+)\] [0-9a-f]+ Export RVA)");
  const std::regex name(R"(\s*\[\s*\d+\] (\S+))");
  bool inNameTable = false;
  for (const std::string& line : linesOf(headers)) {
    std::smatch match;
    if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) inNameTable = true;
    if (std::regex_match(line, match, address)) {
      exported.insert(static_cast<unsigned>(std::stoul(match[1])));
    } else if (inNameTable && std::regex_match(line, match, name)) {
      names.push_back(match[1]);
    }
  }
  EXPECT_EQ(kOrdinals, exported) << headers;
  EXPECT_EQ(std::vector<std::string>{}, names);
}

TEST_P(WindowsBinary, HostIsAConsoleProgramThatRunsAsInvoker) {
  const std::string headers = privateHeaders(GetParam(), "quorvant_host.exe");
  EXPECT_NE(std::string::npos, headers.find("file format " + GetParam().format)) << headers;
  EXPECT_NE(std::string::npos, headers.find(GetParam().magic));
  EXPECT_NE(std::string::npos, headers.find("(Windows CUI)"));
  std::ifstream file(GetParam().bin + "/quorvant_host.exe", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_NE(std::string::npos, bytes.find(R"(<requestedExecutionLevel level="asInvoker")"));
}

INSTANTIATE_TEST_SUITE_P(Builds, WindowsBinary, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<WindowsBuild>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
