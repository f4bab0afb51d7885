#pragma once

#include <cstdint>
#include <string>

#include "signing/data_signed.h"

namespace vorna {

// The common end of a failed library call: `description` becomes the
// library's text for `status` (UTF-16) and an error record "<call>: <text>"
// is logged under the tag of `function` (a __PRETTY_FUNCTION__). Returns false.
bool reportLibraryFailure(std::uint32_t status, const char16_t* call, std::u16string& description,
                          const char* function, int line);

// Runs `operation` on the session `handle` when `useHandle`, else on a session
// of its own on `containerName`, which is closed again whatever the outcome
// (that close is not reported). False when the session cannot be opened
// (`description` is then the open's) or `operation` returned false.
template <typename Operation>
bool inSession(std::uint32_t handle, const std::u16string& containerName, bool useHandle,
               std::u16string& description, Operation operation) {
  if (useHandle) return operation(handle);
  std::uint32_t session = 0;
  if (!DataSigned::openProvider(containerName, description, session)) return false;
  const bool succeeded = operation(session);
  std::u16string ignored;
  DataSigned::closeProvider(session, ignored);
  return succeeded;
}

}  // namespace vorna

// reportLibraryFailure for the enclosing function.
#define LIBRARY_FAILURE(call, status, description) \
  ::vorna::reportLibraryFailure(status, call, description, __PRETTY_FUNCTION__, __LINE__)
