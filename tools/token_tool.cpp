// quorvant_token: creates, imports, lists and deletes the software token's
// key containers. Exit code 0 on success, 1 on failure, 2 on bad usage.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/self_signed.h"
#include "vendor/consent/pinentry.h"
#include "vendor/tokens/software/container_store.h"
#include "vendor/tokens/software/pkcs12.h"

namespace {

using namespace tokens;
using namespace tokens::software;

constexpr char kUsage[] =
    "usage: quorvant_token [--store DIR] COMMAND\n"
    "  create NAME [--rsa BITS] [--subject /CN=.../O=...] [--days N] [PROTECTION]\n"
    "                      new key (ECDSA P-256, or RSA) and self-signed certificate\n"
    "  import NAME FILE [--password-file FILE|-] [PROTECTION]\n"
    "                      copies a PKCS#12 file (password: first line of FILE)\n"
    "PROTECTION: a passphrase asked through pinentry, unless\n"
    "  --passphrase-file FILE|-   takes it from the first line of FILE\n"
    "  --no-passphrase            leaves the container unprotected; each new session\n"
    "                             then asks the user to confirm, unless\n"
    "  --no-confirm               is given too\n"
    "  list                one line per container: name, subject, expiry (* = default)\n"
    "  delete NAME\n"
    "  default [NAME]      shows or sets the container used when none is named\n"
    "  store               shows the store directory\n"
    "The store is $QUORVANT_TOKEN_STORE, else $XDG_DATA_HOME/quorvant/containers,\n"
    "else ~/.local/share/quorvant/containers.\n";

struct Arguments {
  std::string store;
  std::vector<std::string> words;                            // command and operands
  std::vector<std::pair<std::string, std::string>> options;  // --name value
  bool noPassphrase = false;
  bool noConfirm = false;
};

int usage() {
  std::cerr << kUsage;
  return 2;
}

int fail(const std::string& message) {
  std::cerr << "quorvant_token: " << message << "\n";
  return 1;
}

bool parseArguments(int argc, char** argv, Arguments& out) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word.rfind("--", 0) != 0) {
      out.words.push_back(word);
      continue;
    }
    if (word == "--no-passphrase" || word == "--no-confirm") {
      (word == "--no-passphrase" ? out.noPassphrase : out.noConfirm) = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    if (word == "--store") {
      out.store = argv[++i];
    } else {
      out.options.emplace_back(word, argv[++i]);
    }
  }
  if (out.store.empty()) out.store = defaultStoreDirectory();
  return !out.words.empty();
}

// The value of option `name`; empty when it was not given.
std::string option(const Arguments& arguments, const std::string& name) {
  for (const auto& entry : arguments.options) {
    if (entry.first == name) return entry.second;
  }
  return std::string();
}

bool onlyOptions(const Arguments& arguments, const std::vector<std::string>& allowed) {
  for (const auto& entry : arguments.options) {
    bool known = false;
    for (const auto& name : allowed) known = known || entry.first == name;
    if (!known) return false;
  }
  return true;
}

bool toNumber(const std::string& text, int& value) {
  if (text.empty()) return true;
  char* end = nullptr;
  long number = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || number <= 0 || number > 100000) return false;
  value = static_cast<int>(number);
  return true;
}

// A first container becomes the default, so a login without a name finds it.
void defaultWhenFirst(const std::string& store, const std::string& name) {
  struct stat status {};
  std::string ignored;
  if (::stat((store + "/default").c_str(), &status) != 0) setDefaultContainer(store, name, ignored);
}

// The first line of `source` (a file, or "-" for standard input), UTF-8.
bool readSecretLine(const std::string& source, consent::Secret& secret) {
  std::ifstream file;
  if (source != "-") file.open(source);
  std::istream& in = source == "-" ? std::cin : file;
  if (!in) return false;
  char c = 0;
  while (in.get(c) && c != '\n') {
    if (!secret.append(c)) return false;
  }
  return !in.bad();
}

// The new container's protection, asking through pinentry when neither
// --passphrase-file nor --no-passphrase says otherwise.
bool chooseProtection(const Arguments& arguments, const std::string& name,
                      consent::Secret& passphrase, ContainerProtection& protection,
                      std::string& error) {
  std::string source = option(arguments, "--passphrase-file");
  protection.confirmEachSession = !arguments.noConfirm;
  if (arguments.noPassphrase) {
    if (!source.empty()) error = "--passphrase-file and --no-passphrase exclude each other";
    return source.empty();
  }
  if (!source.empty()) {
    if (!readSecretLine(source, passphrase)) {
      error = "cannot read the passphrase file";
      return false;
    }
  } else {
    consent::Prompt prompt;
    prompt.title = "Quorvant key container";
    prompt.description = "Choose a passphrase for the new key container \"" + name + "\".";
    prompt.prompt = "Passphrase:";
    prompt.repeat = "Repeat:";
    std::string detail;
    if (consent::askSecret(prompt, passphrase, detail) != consent::Answer::kGiven) {
      error = "no passphrase given" + (detail.empty() ? "" : " (" + detail + ")") +
              "; --no-passphrase makes an unprotected container";
      return false;
    }
  }
  if (passphrase.empty()) {
    error = "the passphrase is empty; --no-passphrase makes an unprotected container";
    return false;
  }
  protection.passphrase = passphrase.c_str();
  return true;
}

int create(const Arguments& arguments) {
  NewCredentialOptions options;
  options.subject = option(arguments, "--subject");
  if (arguments.words.size() != 2 ||
      !onlyOptions(arguments, {"--rsa", "--subject", "--days", "--passphrase-file"}) ||
      !toNumber(option(arguments, "--rsa"), options.rsaBits) ||
      !toNumber(option(arguments, "--days"), options.days)) {
    return usage();
  }
  const std::string& name = arguments.words[1];
  Credential credential;
  std::string error;
  consent::Secret passphrase;
  ContainerProtection protection;
  if (!chooseProtection(arguments, name, passphrase, protection, error) ||
      !makeSelfSigned(name, options, credential, error) ||
      !saveContainer(arguments.store, name, credential, false, error, protection)) {
    return fail(error);
  }
  defaultWhenFirst(arguments.store, name);
  std::cout << "created " << containerPath(arguments.store, name) << "\n"
            << "subject " << subjectLine(credential.certificate.get()) << "\n";
  return 0;
}

bool readPassword(const std::string& source, std::string& password) {
  if (source.empty()) return true;
  std::ifstream file;
  if (source != "-") file.open(source);
  std::istream& in = source == "-" ? std::cin : file;
  if (!in) return false;
  std::getline(in, password);
  return true;
}

int import(const Arguments& arguments) {
  if (arguments.words.size() != 3 ||
      !onlyOptions(arguments, {"--password-file", "--passphrase-file"})) {
    return usage();
  }
  const std::string& name = arguments.words[1];
  std::string password;
  if (!readPassword(option(arguments, "--password-file"), password)) {
    return fail("cannot read the password file");
  }
  std::ifstream in(arguments.words[2], std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  Credential credential;
  std::string error;
  if (!in) return fail("cannot read " + arguments.words[2]);
  consent::Secret passphrase;
  ContainerProtection protection;
  if (!readPkcs12(bytes.str(), password.c_str(), credential, error) ||
      !chooseProtection(arguments, name, passphrase, protection, error) ||
      !saveContainer(arguments.store, name, credential, false, error, protection)) {
    return fail(error);
  }
  defaultWhenFirst(arguments.store, name);
  std::cout << "imported " << containerPath(arguments.store, name) << "\n";
  return 0;
}

int list(const Arguments& arguments) {
  if (arguments.words.size() != 1 || !arguments.options.empty()) return usage();
  std::string chosen;
  bool hasDefault = !containerNames(arguments.store).empty() &&
                    defaultContainerName(arguments.store, chosen) == 0;
  for (const std::string& name : containerNames(arguments.store)) {
    Credential credential;
    std::string bytes;
    bool locked = readContainer(arguments.store, name, bytes) == 0 && needsPassword(bytes);
    bool readable = !locked && loadContainer(arguments.store, name, credential) == 0;
    std::cout << (hasDefault && name == chosen ? "* " : "  ") << name << "\t"
              << (readable ? subjectLine(credential.certificate.get())
                  : locked ? "(passphrase)"
                           : "(unreadable)")
              << "\t" << (readable ? "expires " + expiryText(credential.certificate.get()) : "")
              << "\n";
  }
  return 0;
}

int remove(const Arguments& arguments) {
  if (arguments.words.size() != 2 || !arguments.options.empty()) return usage();
  std::string error;
  if (!removeContainer(arguments.store, arguments.words[1], error)) return fail(error);
  std::cout << "deleted " << arguments.words[1] << "\n";
  return 0;
}

int chooseDefault(const Arguments& arguments) {
  if (arguments.words.size() > 2 || !arguments.options.empty()) return usage();
  std::string name;
  std::string error;
  if (arguments.words.size() == 2) {
    if (!setDefaultContainer(arguments.store, arguments.words[1], error)) return fail(error);
    name = arguments.words[1];
  } else if (defaultContainerName(arguments.store, name) != 0) {
    return fail("no default key container in " + arguments.store);
  }
  std::cout << name << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments arguments;
  if (!parseArguments(argc, argv, arguments)) return usage();
  if (arguments.store.empty()) return fail("no store directory: set HOME or QUORVANT_TOKEN_STORE");
  const std::string& command = arguments.words[0];
  if (command == "create") return create(arguments);
  if (command == "import") return import(arguments);
  if (command == "list") return list(arguments);
  if (command == "delete") return remove(arguments);
  if (command == "default") return chooseDefault(arguments);
  if (command == "store" && arguments.words.size() == 1) {
    std::cout << arguments.store << "\n";
    return 0;
  }
  return usage();
}
