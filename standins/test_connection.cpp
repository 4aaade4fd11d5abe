#include "standins/test_connection.h"

#include <algorithm>
#include <cstring>

namespace talvor::test_connection {

namespace {

// One overlapped read or write is kept below this so that a single call never
// asks the pipe for an unreasonable amount at once.
constexpr size_t kMaxTransfer = 1u << 20;

void AppendU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t LoadU32(const uint8_t* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

HANDLE NewManualResetEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

FrameWriter::FrameWriter(Kind kind) {
  AppendU32(&frame_, 0);  // size, filled in by Finish
  frame_.push_back(static_cast<uint8_t>(kind));
}

FrameWriter& FrameWriter::U8(uint8_t value) {
  frame_.push_back(value);
  return *this;
}

FrameWriter& FrameWriter::U32(uint32_t value) {
  AppendU32(&frame_, value);
  return *this;
}

FrameWriter& FrameWriter::Bytes(const uint8_t* data, size_t size) {
  AppendU32(&frame_, static_cast<uint32_t>(size));
  if (size != 0) frame_.insert(frame_.end(), data, data + size);
  return *this;
}

FrameWriter& FrameWriter::Text(std::string_view text) {
  return Bytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::vector<uint8_t> FrameWriter::Finish() {
  const auto size = static_cast<uint32_t>(frame_.size() - 4);
  for (int index = 0; index < 4; ++index) frame_[index] = static_cast<uint8_t>(size >> (8 * index));
  return std::move(frame_);
}

FrameReader::FrameReader(const std::vector<uint8_t>& body) : body_(body) {
  if (!body_.empty()) {
    kind_ = static_cast<Kind>(body_[0]);
    valid_ = true;
  }
}

bool FrameReader::Take(size_t count, const uint8_t** start) {
  if (!valid_ || body_.size() - position_ < count) return false;
  *start = body_.data() + position_;
  position_ += count;
  return true;
}

bool FrameReader::U8(uint8_t* value) {
  const uint8_t* start = nullptr;
  if (!Take(1, &start)) return false;
  *value = *start;
  return true;
}

bool FrameReader::U32(uint32_t* value) {
  const uint8_t* start = nullptr;
  if (!Take(4, &start)) return false;
  *value = LoadU32(start);
  return true;
}

bool FrameReader::Bytes(std::vector<uint8_t>* value) {
  const size_t saved = position_;
  uint32_t size = 0;
  const uint8_t* start = nullptr;
  if (!U32(&size) || !Take(size, &start)) {
    position_ = saved;
    return false;
  }
  value->assign(start, start + size);
  return true;
}

bool FrameReader::Text(std::string* value) {
  std::vector<uint8_t> bytes;
  if (!Bytes(&bytes)) return false;
  value->assign(bytes.begin(), bytes.end());
  return true;
}

PipeEndpoint::PipeEndpoint(HANDLE pipe)
    : pipe_(pipe), read_event_(NewManualResetEvent()), write_event_(NewManualResetEvent()) {}

PipeEndpoint::~PipeEndpoint() = default;

bool PipeEndpoint::Write(const std::vector<uint8_t>& frame) {
  std::lock_guard<std::mutex> lock(write_mutex_);
  if (!pipe_ || !write_event_) return false;
  size_t done = 0;
  while (done < frame.size()) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_event_.get();
    const auto chunk = static_cast<DWORD>(std::min(frame.size() - done, kMaxTransfer));
    if (!WriteFile(pipe_.get(), frame.data() + done, chunk, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return false;
    }
    DWORD written = 0;
    if (!GetOverlappedResult(pipe_.get(), &overlapped, &written, TRUE) || written == 0) return false;
    done += written;
  }
  return true;
}

bool PipeEndpoint::ReadExactly(uint8_t* data, size_t size, HANDLE stop) {
  size_t done = 0;
  while (done < size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_event_.get();
    const auto chunk = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    if (!ReadFile(pipe_.get(), data + done, chunk, nullptr, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return false;
      const HANDLE waits[2] = {read_event_.get(), stop};
      const DWORD wait = WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, INFINITE);
      if (wait != WAIT_OBJECT_0) {
        CancelIoEx(pipe_.get(), &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipe_.get(), &overlapped, &ignored, TRUE);
        return false;
      }
    }
    DWORD read = 0;
    if (!GetOverlappedResult(pipe_.get(), &overlapped, &read, FALSE) || read == 0) return false;
    done += read;
  }
  return true;
}

bool PipeEndpoint::Read(std::vector<uint8_t>* body, HANDLE stop) {
  if (!pipe_ || !read_event_) return false;
  uint8_t prefix[4];
  if (!ReadExactly(prefix, sizeof prefix, stop)) return false;
  const uint32_t size = LoadU32(prefix);
  if (size == 0 || size > kMaxFrameSize) return false;
  body->resize(size);
  return ReadExactly(body->data(), size, stop);
}

std::wstring PipeNameFromEnvironment() {
  const DWORD needed = GetEnvironmentVariableW(kPipeVariable, nullptr, 0);
  if (needed == 0) return {};
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(kPipeVariable, value.data(), needed);
  if (length == 0 || length >= needed) return {};
  value.resize(length);
  return value;
}

}  // namespace talvor::test_connection
