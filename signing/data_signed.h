#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vorna {

// A buffer allocated by an operation below and owned by its caller.
using ByteBuffer = std::unique_ptr<std::uint8_t[]>;

// The signing operations over the vendor library. No instances, no state:
// sessions live in the library and are named by provider handles. Every
// operation returns true on success; on failure it writes `description`
// (UTF-16, the library's own text for library failures) and nothing else.
class DataSigned {
 public:
  DataSigned() = delete;

  // Opens a session on the container (UTF-16; empty: the default container)
  // and writes its handle.
  static bool openProvider(const std::u16string& containerName, std::u16string& description,
                           std::uint32_t& handle);
  // Library start-up and login; `container` is NUL-terminated ANSI or null.
  static bool openCryptoProvider(std::uint32_t& handle, const char* container,
                                 std::u16string& description);
  // Logs out and shuts the library down; false when either failed, with the
  // text of the last failure.
  static bool closeProvider(std::uint32_t handle, std::u16string& description);

  // The session's certificate as Base64 (UTF-16). With `useHandle` false a
  // session of its own is opened on `containerName` and closed again.
  static bool getCertificate(std::uint32_t handle, const std::u16string& containerName,
                             bool useHandle, std::u16string& description,
                             std::u16string& certificate);
  // The certificate bytes of the session `handle`; on false no buffer is kept.
  static bool getCetificate(std::uint32_t handle, ByteBuffer& buffer, std::uint32_t& length,
                            std::u16string& description);

  // The signed message of the file at `path` as Base64 (UTF-16). With
  // `useHandle` false a session of its own is opened and closed again.
  static bool signData(std::uint32_t handle, const std::u16string& containerName,
                       const std::u16string& path, bool useHandle, std::u16string& description,
                       std::u16string& signature);
  // The signed message bytes of the file at `path`; on false no buffer is kept.
  static bool signData(std::uint32_t handle, const char16_t* path, ByteBuffer& signature,
                       std::uint32_t& length, std::u16string& description);
  // Closes a message handle; a failure is only logged.
  static void closeMessageHandle(std::uint32_t message);

  // The library's text (UTF-16) for a status; "unknow error" when the library
  // cannot describe it. Never fails.
  static std::u16string systemErrorMessage(std::uint32_t code);
};

}  // namespace vorna
