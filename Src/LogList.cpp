#include "LogList.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>

TLogList::TLogItem& TLogList::FindOrAdd(TThreadId threadId) {
  if (first_.ThreadId == 0 || first_.ThreadId == threadId) {
    first_.ThreadId = threadId;
    return first_;
  }
  for (TLogItem* item = first_.Next.get(); item; item = item->Next.get())
    if (item->ThreadId == threadId) return *item;
  auto added = std::make_unique<TLogItem>();
  added->ThreadId = threadId;
  added->Next = std::move(first_.Next);
  first_.Next = std::move(added);
  return *first_.Next;
}

void TLogList::Clear() {
  first_.ThreadId = 0;
  first_.Pending.clear();
  // Unlinked one by one so that a long chain does not recurse.
  std::unique_ptr<TLogItem> chain = std::move(first_.Next);
  while (chain) chain = std::move(chain->Next);
}

namespace {
// Appends as much of text as fits before the buffer's last byte, which stays
// zero.
size_t AppendBounded(std::array<char, LogBufferSize>& buffer, size_t position, const char* text) {
  const size_t room = buffer.size() - 1 - position;
  const size_t length = std::min(std::strlen(text), room);
  std::memcpy(buffer.data() + position, text, length);
  return position + length;
}
}  // namespace

std::vector<std::string> AssembleLogLines(std::string& pending, const char* objectName,
                                          const void* classAddress, const char* format,
                                          va_list arguments) {
  std::array<char, LogBufferSize> buffer{};
  size_t position = 0;
  if (classAddress && pending.empty()) {
    char prefix[300];
    std::snprintf(prefix, sizeof prefix, "[%s @ %08" PRIXPTR "]", objectName ? objectName : "",
                  reinterpret_cast<uintptr_t>(classAddress));
    position = AppendBounded(buffer, position, prefix);
  } else if (!pending.empty()) {
    position = AppendBounded(buffer, position, pending.c_str());
  }
  // Bounded formatting: what does not fit is cut, nothing goes past the end.
  // The helper library offers only the unbounded vsprintf, so this one call
  // goes to the C library's vsnprintf, which it forwards to anyway.
  if (format) std::vsnprintf(buffer.data() + position, buffer.size() - position, format, arguments);
  std::string text(buffer.data(), strnlen(buffer.data(), buffer.size()));
  const bool full = text.size() == buffer.size() - 1;
  std::vector<std::string> lines;
  for (size_t lineFeed; (lineFeed = text.find('\n')) != std::string::npos;) {
    lines.push_back(text.substr(0, lineFeed));
    text.erase(0, lineFeed + 1);
  }
  // A full buffer could never take the line feed that ends its text: it is
  // delivered as it stands rather than kept pending for good.
  if (full && !text.empty()) {
    lines.push_back(std::move(text));
    text.clear();
  }
  pending = std::move(text);
  return lines;
}
