#include "host/message_channel.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "logging/log.h"
#include "platform/memory.h"
#include "text/text_convert.h"

namespace {

platform::NativeHandle gMessageOutput = platform::kInvalidHandle;

}  // namespace

void setMessageOutputHandle(platform::NativeHandle handle) { gMessageOutput = handle; }

std::uint32_t readMessageSize() {
  std::uint32_t length = 0;
  for (int position = 0; position < 4; ++position) {
    unsigned char byte = 0;
    // The count is not looked at: a byte the input lacks stays 0.
    (void)std::fread(&byte, 1, 1, stdin);
    length |= static_cast<std::uint32_t>(byte) << (8 * position);
  }
  return length;
}

void discardMessage(std::uint64_t length) {
  char chunk[64 * 1024];
  while (length > 0) {
    std::size_t want = length < sizeof chunk ? static_cast<std::size_t>(length) : sizeof chunk;
    std::size_t got = std::fread(chunk, 1, want, stdin);
    if (got == 0) return;  // end of input: nothing left to skip
    length -= got;
  }
}

std::u16string readMessage(std::uint32_t length) {
  // Uninitialised on purpose: only a tail the input did not fill is zeroed,
  // so a large frame is touched once, by the read.
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[length]);
  if (!buffer) {
    discardMessage(length);
    throw std::bad_alloc();
  }
  platform::preferLargePages(buffer.get(), length);
  std::size_t got = std::fread(buffer.get(), 1, length, stdin);
  if (got < length) std::memset(buffer.get() + got, 0, length - got);
  return utf8ToWide(buffer.get(), length);
}

void writeMessage(const std::u16string& answer) {
  std::string frame(4, '\0');  // room for the length
  frame += wideToUtf8(answer);
  std::size_t size = frame.size() - 4;
  LOG_DEBUG << u"Write message size: " << static_cast<unsigned long long>(size);
  if (size == 0) return;
  for (int position = 0; position < 4; ++position) {
    frame[position] = static_cast<char>((size >> (8 * position)) & 0xFF);
  }
  platform::writeAll(gMessageOutput, frame.data(), frame.size());
}
