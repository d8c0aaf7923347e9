#include "model/eigen_arrays.hpp"

#include "eigen/eigen.hpp"

namespace model {

void run_ch(EigenArrays& a, int matz) {
  eigen::ch(EigenArrays::n, EigenArrays::n, a.ar, a.ai, a.w, matz, a.zr, a.zi, a.fv1, a.fv2,
            a.fm1, a.ierr);
}

}  // namespace model
