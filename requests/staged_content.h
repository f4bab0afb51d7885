#pragma once

#include <cstdint>
#include <string>

#include "json/json_value.h"

// Content a page sends in parts ("stageContent"), each appended to one data
// file that a later "getSignature" names by "stagedContent". A staged name is
// random letters and digits, good only inside this process and only until
// the file is signed or removed; it never names a path. Texts are UTF-16.

// The largest staged file, in bytes: what the 32-bit host can still sign.
// Signing reads the whole file into memory and the library makes its own
// copy; in an empty 2 GiB address space that reaches 1010 MiB
// (bench/qemu_sign_peak.py --largest), but a Windows process's space is
// split by its DLLs, so two blocks of half that is what can be counted on.
inline constexpr std::uint64_t kMaxStagedBytes = 512ull * 1024 * 1024;

// What a "stageContent" answer reports: the staged file's name (empty when
// the request failed) and the bytes staged in it so far.
struct StagedProgress {
  std::u16string name;
  std::uint64_t bytes = 0;
};

// Carries out a "stageContent" request: appends its "contentFile" part to a
// new staged file or to the one its "stagedContent" names, or with
// "discard": true removes that file. True with `progress` filled; false with
// `description` saying why, and then the file the request named is removed.
bool stageContent(const JsonValue& request, StagedProgress& progress, std::u16string& description);

// True when the request's "stagedContent" is a string that is not empty.
bool hasStagedContent(const JsonValue& request);

// Takes the staged file that a "getSignature" request names out of the table
// and closes it: its path, which the caller signs and then removes. Empty,
// with `description` set and the file removed, when the name is unknown, the
// request also gives "fileDataPath" or "contentFile", or closing failed.
std::u16string takeStagedContent(const JsonValue& request, std::u16string& description);

// Removes the staged file of `name`, if any.
void discardStagedContent(const std::u16string& name);

// Removes every staged file not yet signed: the input has ended.
void discardAllStagedContent();
