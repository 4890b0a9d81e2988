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
// `peer`, adding its requests to `pending`. The block goes in pieces of
// whole columns (of parts of a column, for a column too long for one),
// each piece of at most 2^26 elements: both sides cut a block of the same
// rows x cols into pieces of the same sizes, whatever their ld. A piece
// of consecutive elements goes as such, which MPI moves without looking
// at its parts; any other as a vector of columns.
template <class T>
void post(bool send, T* p, std::int64_t rows, std::int64_t ld, std::int64_t cols, int peer,
          int tag, MPI_Comm comm, std::vector<MPI_Request>& pending) {
  constexpr std::int64_t most = std::int64_t{1} << 26;
  const std::int64_t piecerows = std::min(rows, most);
  const std::int64_t piececols = std::max<std::int64_t>(1, most / std::max<std::int64_t>(rows, 1));
  for (std::int64_t c = 0; c < cols; c += piececols) {
    const std::int64_t width = std::min(piececols, cols - c);
    for (std::int64_t r = 0; r < rows; r += piecerows) {
      const std::int64_t height = std::min(piecerows, rows - r);
      T* const at = p + c * ld + r;
      MPI_Datatype type = mpitype<T>();
      int count = static_cast<int>(height * width);
      const bool strided = width > 1 && ld != rows;
      if (strided) {
        MPI_Type_create_hvector(static_cast<int>(width), static_cast<int>(height),
                                static_cast<MPI_Aint>(ld * std::int64_t{sizeof(T)}), mpitype<T>(),
                                &type);
        MPI_Type_commit(&type);
        count = 1;
      }
      MPI_Request request;
      if (send) {
        MPI_Isend(at, count, type, peer, tag, comm, &request);
      } else {
        MPI_Irecv(at, count, type, peer, tag, comm, &request);
      }
      pending.push_back(request);
      if (strided) MPI_Type_free(&type);  // freed once the message is through
    }
  }
}

// Copies a rows x cols block within the process.
template <class T>
void copyblock(const T* from, std::int64_t ldfrom, T* to, std::int64_t ldto, std::int64_t rows,
               std::int64_t cols) {
  for (std::int64_t c = 0; c < cols; ++c) std::copy_n(from + c * ldfrom, rows, to + c * ldto);
}

inline void complete(std::vector<MPI_Request>& pending) {
  MPI_Waitall(static_cast<int>(pending.size()), pending.data(), MPI_STATUSES_IGNORE);
  pending.clear();
}

}  // namespace dist
