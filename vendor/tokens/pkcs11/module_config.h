#pragma once

#include <string>

// Which PKCS#11 module the library loads and which key a login without a
// name takes. Read at every login, so a changed file takes effect at once.
//
// The module: $QUORVANT_PKCS11_MODULE when set and not empty, else the
// "module = PATH" line of the config file, else p11-kit's proxy module (every
// token the system knows). The config file: $QUORVANT_PKCS11_CONFIG when set
// and not empty, else $XDG_CONFIG_HOME/quorvant/pkcs11.conf, else
// ~/.config/quorvant/pkcs11.conf. Lines "name = value"; '#' starts a comment.
namespace tokens::pkcs11 {

inline constexpr char kModuleVariable[] = "QUORVANT_PKCS11_MODULE";
inline constexpr char kConfigVariable[] = "QUORVANT_PKCS11_CONFIG";

struct ModuleConfig {
  std::string module;      // path of the module to load
  std::string defaultKey;  // "default = token label/key label", or empty
};

ModuleConfig readModuleConfig();

}  // namespace tokens::pkcs11
