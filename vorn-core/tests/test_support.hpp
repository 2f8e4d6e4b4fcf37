#pragma once
// Builders shared by the discovery-engine tests.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <span>
#include <string>

#include "ketra_autograd/ndarray.hpp"
#include "ketra_autograd/testing.hpp"
#include "support/testing.hpp"
#include "tarvex/testing.hpp"
#include "tarvex/tree.hpp"
#include "vorn_core/dataset.hpp"

namespace vorn_core::testing {

// The test helpers of the libraries below.
using namespace ketra_autograd::testing;
using namespace support::testing;
using namespace tarvex::testing;
using ketra_autograd::ArrayD;
using tarvex::tree::EmlNode;
using tarvex::tree::EmlTree;
using tarvex::tree::NodePtr;

// A data set of one column; the caller vouches that the lengths agree.
inline dataset::DataSet one_column(std::span<const double> column, std::span<const double> y) {
  const std::size_t shape[] = {column.size(), 1};
  return *dataset::DataSet::from_arrays(*ArrayD::from_shape_vec(shape, column), ArrayD::from_vec(y));
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

// The numbers of the process's open descriptors.
inline std::set<std::string> open_descriptors() {
  std::set<std::string> numbers;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
    numbers.insert(entry.path().filename());
  return numbers;
}

inline bool stdout_is_null_device() {
  struct stat out {};
  struct stat null {};
  return ::fstat(1, &out) == 0 && ::stat("/dev/null", &null) == 0 && S_ISCHR(out.st_mode) &&
         out.st_rdev == null.st_rdev;
}

}  // namespace vorn_core::testing
