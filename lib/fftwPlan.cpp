#include "lib/fftwPlan.h"

#include <mutex>

namespace {

std::mutex& plannerMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void fftwPlanDeleter::operator()(fftwf_plan_s* plan) const {
    std::lock_guard<std::mutex> lock(plannerMutex());
    fftwf_destroy_plan(plan);
}

fftwPlanPtr planRealToComplex(int n, float* in, fftwf_complex* out) {
    std::lock_guard<std::mutex> lock(plannerMutex());
    return fftwPlanPtr(fftwf_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE));
}

fftwPlanPtr planComplexToReal(int n, fftwf_complex* in, float* out) {
    std::lock_guard<std::mutex> lock(plannerMutex());
    return fftwPlanPtr(fftwf_plan_dft_c2r_1d(n, in, out, FFTW_ESTIMATE));
}
