#pragma once

#include <sndfile.h>

#include <cstring>
#include <string>

namespace lorvanta::studio {

// The cause of a failed libsndfile call in plain words: the system's for `savedErrno` when
// the system refused (set errno to 0 before the call), libsndfile's own otherwise.
inline std::string sndfileFailure(int savedErrno, SNDFILE* file) {
  return savedErrno != 0 ? std::strerror(savedErrno) : sf_strerror(file);
}

// The same for a failed sf_close, from its result.
inline std::string sndfileCloseFailure(int savedErrno, int closeResult) {
  return savedErrno != 0 ? std::strerror(savedErrno) : sf_error_number(closeResult);
}

}  // namespace lorvanta::studio
