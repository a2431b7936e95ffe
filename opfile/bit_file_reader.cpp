#include "bit_file_reader.h"

namespace op {

bool BitFileReader::OpenInput(std::string_view name) {
  file_.reset();
  next_ = filled_ = 0;
  failure_.clear();
  file_ = files_.OpenInput(name, failure_);
  atEnd_ = file_ == nullptr;
  return !atEnd_;
}

bool BitFileReader::Refill() {
  if (!file_) return false;
  const std::ptrdiff_t got = file_->Read(buffer_, failure_);
  if (got <= 0) return false;
  next_ = 0;
  filled_ = static_cast<std::size_t>(got);
  return true;
}

}  // namespace op
