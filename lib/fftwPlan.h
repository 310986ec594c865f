// FFTW plans that any thread may make and destroy. FFTW's planner is not
// thread-safe (executing a plan is): making and destroying plans is
// serialized here, so that utterances on several threads can each plan
// their own transforms.
#pragma once

#include <fftw3.h>

#include <memory>

struct fftwPlanDeleter {
    void operator()(fftwf_plan_s* plan) const;
};
using fftwPlanPtr = std::unique_ptr<fftwf_plan_s, fftwPlanDeleter>;

// fftwf_plan_dft_r2c_1d and fftwf_plan_dft_c2r_1d with FFTW_ESTIMATE under the planner lock.
fftwPlanPtr planRealToComplex(int n, float* in, fftwf_complex* out);
fftwPlanPtr planComplexToReal(int n, fftwf_complex* in, float* out);
