// The same stages compiled for AVX2: chosen at run time where the CPU has it.
#define PONDSIM_LAB_FAST_NAMESPACE avx2
#define PONDSIM_LAB_FAST_NAME "AVX2"
#include "sim/lab/lab_fast_stages.cpp"
