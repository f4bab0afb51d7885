#include "vendor/tokens/pkcs11/module_config.h"

#include <cstdlib>
#include <fstream>

#ifndef QUORVANT_P11KIT_PROXY
#define QUORVANT_P11KIT_PROXY "p11-kit-proxy.so"
#endif

namespace tokens::pkcs11 {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string configPath() {
  std::string chosen = variable(kConfigVariable);
  if (!chosen.empty()) return chosen;
  std::string config = variable("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {
    std::string home = variable("HOME");
    if (home.empty()) return std::string();
    config = home + "/.config";
  }
  return config + "/quorvant/pkcs11.conf";
}

std::string trimmed(const std::string& text) {
  std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

ModuleConfig readModuleConfig() {
  ModuleConfig config;
  std::string path = configPath();
  std::ifstream file(path.empty() ? "/nonexistent" : path);
  std::string line;
  while (std::getline(file, line)) {
    std::size_t equals = line.find('=');
    if (line.empty() || trimmed(line)[0] == '#' || equals == std::string::npos) continue;
    std::string name = trimmed(line.substr(0, equals));
    std::string value = trimmed(line.substr(equals + 1));
    if (name == "module") config.module = value;
    if (name == "default") config.defaultKey = value;
  }
  std::string module = variable(kModuleVariable);
  if (!module.empty()) config.module = module;
  if (config.module.empty()) config.module = QUORVANT_P11KIT_PROXY;
  return config;
}

}  // namespace tokens::pkcs11
