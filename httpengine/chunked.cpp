// Decoding request bodies sent with "Transfer-Encoding: chunked".
#include "httpengine/engine-private.h"

#include <algorithm>

mg_chunked_body::result mg_chunked_body::fail() {
  stage_ = stage::malformed;
  return result::malformed;
}

mg_chunked_body::result mg_chunked_body::Decode(std::string_view& input, std::string_view& data) {
  while (!input.empty() && stage_ != stage::done && stage_ != stage::malformed) {
    if (stage_ == stage::data) {
      const size_t count = static_cast<size_t>(std::min<uint64_t>(left_, input.size()));
      data = input.substr(0, count);
      input.remove_prefix(count);
      left_ -= count;
      if (left_ == 0) stage_ = stage::data_end;
      return result::data;
    }
    const char c = input.front();
    input.remove_prefix(1);
    // Every framing line ends with an LF, a CR only right before it.
    if (cr_ && c != '\n') return fail();
    if (c == '\r') {
      cr_ = true;
      continue;
    }
    if (c == '\n') {
      cr_ = false;
      if (!EndLine()) return fail();
      continue;
    }
    if (++line_ > kMaxChunkLine || (static_cast<unsigned char>(c) < 32 && c != '\t') || c == 127) return fail();
    const int digit = hex_value(c);
    if (stage_ == stage::size && digit >= 0) {
      if (left_ >> 56 != 0) return fail();  // a size no client sends
      left_ = left_ * 16 + static_cast<uint64_t>(digit);
      digits_ = true;
    } else if (stage_ == stage::size && digits_ && (c == ';' || c == ' ' || c == '\t')) {
      stage_ = stage::extension;
    } else if (stage_ != stage::extension && stage_ != stage::trailer) {
      return fail();
    }
  }
  if (stage_ == stage::malformed) return result::malformed;
  return stage_ == stage::done ? result::done : result::more;
}

bool mg_chunked_body::EndLine() {
  const size_t line = line_;
  line_ = 0;
  switch (stage_) {
    case stage::size:
    case stage::extension:
      if (!digits_) return false;
      digits_ = false;
      stage_ = left_ == 0 ? stage::trailer : stage::data;
      return true;
    case stage::data_end:  // nothing but the line end came after the data
      stage_ = stage::size;
      return true;
    case stage::trailer:
      trailer_bytes_ += line + 2;
      if (line == 0) stage_ = stage::done;
      return trailer_bytes_ <= kHeadBufferSize;
    default:
      return false;
  }
}

size_t mg_chunked_body::ReadSize(size_t buffer_size) const {
  const uint64_t wanted = (stage_ == stage::data ? left_ : 0) + kMaxChunkLine;
  return static_cast<size_t>(std::min<uint64_t>(wanted, buffer_size));
}
