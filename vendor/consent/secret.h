#pragma once

#include <array>
#include <cstddef>

#include <openssl/crypto.h>

// A PIN or passphrase in a fixed buffer that is wiped when the object goes
// away, so no copy of it lingers in freed memory. UTF-8, NUL-terminated.
namespace consent {

class Secret {
 public:
  static constexpr std::size_t kCapacity = 256;

  Secret() = default;
  ~Secret() { wipe(); }
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;

  // False (and nothing added) once the secret is full.
  bool append(char c) {
    if (size_ + 1 >= kCapacity) return false;
    bytes_[size_++] = c;
    bytes_[size_] = '\0';
    return true;
  }
  void wipe() {
    OPENSSL_cleanse(bytes_.data(), bytes_.size());
    size_ = 0;
  }
  const char* c_str() const { return bytes_.data(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

 private:
  std::array<char, kCapacity> bytes_{};
  std::size_t size_ = 0;
};

}  // namespace consent
