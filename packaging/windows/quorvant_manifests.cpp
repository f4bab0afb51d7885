// quorvant_manifests FOLDER EXTENSION_IDS FIREFOX_IDS
// The installer's custom action: writes FOLDER\chromium.json and
// FOLDER\firefox.json, the host manifests its registry keys point at,
// allowing the Chromium extension IDs and Firefox add-on IDs given as
// comma-separated lists. "path" names quorvant_host.exe relative to the
// manifests, so they hold ASCII only. Exit code 0; 2 (nothing written) for a
// malformed ID or usage; 1 when a file cannot be written.
#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

// IDs as the installer's public properties carry them: "a, b" or "a;b".
std::vector<std::string> splitIds(const wchar_t* list, bool (*isValid)(std::wstring&)) {
  std::vector<std::string> ids;
  std::wstring id;
  for (const wchar_t* c = list;; ++c) {
    if (*c == L',' || *c == L';' || *c == L'\0') {
      if (!isValid(id)) return {};
      std::string ascii(id.begin(), id.end());  // ASCII only, checked
      // The packed extension's ID comes first; an administrator may give it again.
      if (std::find(ids.begin(), ids.end(), ascii) == ids.end()) ids.push_back(std::move(ascii));
      id.clear();
      if (*c == L'\0') return ids;
    } else if (*c != L' ') {
      id += *c;
    }
  }
}

// 32 letters a-p; browsers match them in lower case only.
bool takeExtensionId(std::wstring& id) {
  if (id.size() != 32) return false;
  for (wchar_t& c : id) {
    if (c >= L'A' && c <= L'P') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c < L'a' || c > L'p') return false;
  }
  return true;
}

// name@domain or {GUID}: nothing that JSON would read as syntax.
constexpr wchar_t kAddonIdCharacters[] =
    L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._@{}";
bool takeAddonId(std::wstring& id) {
  if (id.empty() || (id.find(L'@') == std::wstring::npos && id.front() != L'{')) return false;
  for (wchar_t c : id) {
    if (c > 127 || std::wcschr(kAddonIdCharacters, c) == nullptr) return false;
  }
  return true;
}

std::string manifest(const char* member, const std::vector<std::string>& allowed,
                     const char* prefix, const char* suffix) {
  std::string list;
  for (const std::string& id : allowed) {
    list += (list.empty() ? "\"" : ", \"") + (prefix + id) + suffix + "\"";
  }
  return std::string("{\n  \"name\": \"com.quorvant.signing_host\",\n") +
         "  \"description\": \"Quorvant signing host\",\n  \"path\": \"quorvant_host.exe\",\n" +
         "  \"type\": \"stdio\",\n  \"" + member + "\": [" + list + "]\n}\n";
}

bool writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::fputws(L"usage: quorvant_manifests FOLDER EXTENSION_IDS FIREFOX_IDS\n", stderr);
    return 2;
  }
  const std::vector<std::string> extensions = splitIds(argv[2], takeExtensionId);
  const std::vector<std::string> addons = splitIds(argv[3], takeAddonId);
  if (extensions.empty() || addons.empty()) {
    std::fwprintf(stderr, L"quorvant_manifests: malformed IDs: %ls / %ls\n", argv[2], argv[3]);
    return 2;
  }
  const std::filesystem::path folder(argv[1]);
  const bool written =
      writeFile(folder / L"chromium.json",
                manifest("allowed_origins", extensions, "chrome-extension://", "/")) &&
      writeFile(folder / L"firefox.json", manifest("allowed_extensions", addons, "", ""));
  return written ? 0 : 1;
}
