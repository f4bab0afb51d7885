#pragma once

#include <cstdint>
#include <string>

#include "platform/console.h"

// Message frames: a 4-byte length, least significant byte first, then that
// many bytes of UTF-8 JSON text. Requests come from standard input, answers
// go to the message output handle.

// The largest request frame read into memory; longer ones are skipped.
inline constexpr std::uint32_t kMaxFrameBytes = 256u * 1024 * 1024;

// Sets the handle every answer frame is written to (the standard output the
// process started with).
void setMessageOutputHandle(platform::NativeHandle handle);

// The next frame length; 0 at the end of input (missing bytes read as 0).
std::uint32_t readMessageSize();

// The next `length` bytes of standard input as UTF-16; bytes missing at the
// end of input read as 0. Throws utfcpp's errors for invalid UTF-8 and
// std::bad_alloc when no buffer can be had, in both cases after the frame's
// bytes were consumed, so the stream stays in step.
std::u16string readMessage(std::uint32_t length);

// Reads and drops `length` bytes of standard input in bounded chunks.
void discardMessage(std::uint64_t length);

// Writes `answer` as one frame of UTF-8 to the message output handle; an
// empty answer writes nothing. Write failures (a closed pipe) are ignored.
void writeMessage(const std::u16string& answer);
