#pragma once
// Builders shared by the discovery-engine tests.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>

#include "ketra_autograd/ndarray.hpp"
#include "support/panic.hpp"
#include "tarvex/tree.hpp"
#include "vorn_core/dataset.hpp"

namespace vorn_core::testing {

using ketra_autograd::ArrayD;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

inline NodePtr one() { return EmlNode::one(); }
inline NodePtr x(std::size_t i) { return EmlNode::var(i); }
inline NodePtr c(double value) { return EmlNode::constant(value); }
inline NodePtr eml(NodePtr left, NodePtr right) { return EmlNode::eml(std::move(left), std::move(right)); }
inline EmlTree tree(NodePtr root) { return EmlTree::from_node(std::move(root)); }

inline ArrayD array(std::initializer_list<std::size_t> shape, std::initializer_list<double> values) {
  return *ArrayD::from_shape_vec(std::span<const std::size_t>(shape.begin(), shape.size()),
                                 std::span<const double>(values.begin(), values.size()));
}

inline ArrayD vec(std::initializer_list<double> values) {
  return ArrayD::from_vec(std::span<const double>(values.begin(), values.size()));
}

// A data set of one column; the caller vouches that the lengths agree.
inline dataset::DataSet one_column(std::span<const double> column, std::span<const double> y) {
  const std::size_t shape[] = {column.size(), 1};
  return *dataset::DataSet::from_arrays(*ArrayD::from_shape_vec(shape, column), ArrayD::from_vec(y));
}

// The message of the panic that f ends with, or "<no panic>".
template <typename F>
std::string panic_message(F&& f) {
  try {
    f();
  } catch (const support::Panic& panic) {
    return panic.message();
  }
  return "<no panic>";
}

// Points descriptor 1 at a temporary file while it lives and reads back what reached it.
class CapturedStdout {
 public:
  CapturedStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    std::FILE* file = std::tmpfile();
    file_ = ::dup(::fileno(file));
    std::fclose(file);
    ::dup2(file_, 1);
  }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;
  ~CapturedStdout() {
    std::fflush(stdout);
    ::dup2(saved_, 1);
    ::close(saved_);
    ::close(file_);
  }

  std::string text() const {
    std::fflush(stdout);
    std::string out;
    char buffer[256];
    for (off_t at = 0;;) {
      const ssize_t got = ::pread(file_, buffer, sizeof buffer, at);
      if (got <= 0) return out;
      out.append(buffer, static_cast<std::size_t>(got));
      at += got;
    }
  }

 private:
  int saved_ = -1;
  int file_ = -1;
};

// Writes straight to descriptor 1, past the C stream's buffer.
inline void say(const std::string& text) { (void)!::write(1, text.data(), text.size()); }

inline bool stdout_is_null_device() {
  struct stat out{};
  struct stat null{};
  return ::fstat(1, &out) == 0 && ::stat("/dev/null", &null) == 0 && S_ISCHR(out.st_mode) &&
         out.st_rdev == null.st_rdev;
}

}  // namespace vorn_core::testing
