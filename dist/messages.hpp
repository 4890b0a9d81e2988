// Blocks of elements between processes: an MPI type for each element kind,
// and a block of rows x cols elements, ld apart, sent or received as one
// message (in pieces, where a count would pass what an int holds).
#pragma once

#include <mpi.h>

#include <algorithm>
#include <complex>
#include <cstdint>
#include <vector>

namespace dist {

template <class T>
MPI_Datatype mpitype();
template <>
inline MPI_Datatype mpitype<float>() { return MPI_FLOAT; }
template <>
inline MPI_Datatype mpitype<double>() { return MPI_DOUBLE; }
template <>
inline MPI_Datatype mpitype<std::complex<float>>() { return MPI_C_FLOAT_COMPLEX; }
template <>
inline MPI_Datatype mpitype<std::complex<double>>() { return MPI_C_DOUBLE_COMPLEX; }

// Message tags: one per kind of message, so that none is taken for another.
enum tag : int { bandtag = 1, righttag, solvedtag, towardprevious, towardnext };

// Posts the nonblocking send (or receive) of the block at p to (from)
// `peer`, adding its requests to `pending`. Both sides cut a block of the
// same rows x cols into the same pieces, whatever their ld.
template <class T>
void post(bool send, T* p, std::int64_t rows, std::int64_t ld, std::int64_t cols, int peer,
          int tag, MPI_Comm comm, std::vector<MPI_Request>& pending) {
  constexpr std::int64_t most = std::int64_t{1} << 26;  // rows, and columns, of one piece
  for (std::int64_t c = 0; c < cols; c += most) {
    for (std::int64_t r = 0; r < rows; r += most) {
      MPI_Datatype piece;
      MPI_Type_create_hvector(static_cast<int>(std::min(most, cols - c)),
                              static_cast<int>(std::min(most, rows - r)),
                              static_cast<MPI_Aint>(ld * std::int64_t{sizeof(T)}), mpitype<T>(),
                              &piece);
      MPI_Type_commit(&piece);
      MPI_Request request;
      T* const at = p + c * ld + r;
      if (send) {
        MPI_Isend(at, 1, piece, peer, tag, comm, &request);
      } else {
        MPI_Irecv(at, 1, piece, peer, tag, comm, &request);
      }
      MPI_Type_free(&piece);  // freed once the message is through
      pending.push_back(request);
    }
  }
}

inline void complete(std::vector<MPI_Request>& pending) {
  MPI_Waitall(static_cast<int>(pending.size()), pending.data(), MPI_STATUSES_IGNORE);
  pending.clear();
}

}  // namespace dist
