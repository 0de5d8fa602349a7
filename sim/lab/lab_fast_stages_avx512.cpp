// The same stages compiled for AVX-512, with vectors of eight lanes still
// but for the weakly compressible sweeps' twin rows of sixteen: in its
// thirty-two registers the force sweep keeps more of its sums and splats
// than in AVX2's sixteen, and goes to memory for fewer of them. Sixteen
// lanes as two places a vector measured slower (13.4 against 12.1 ms a
// step for the weakly compressible pool of 100 000); as two rows of one
// place, faster (11.9 against 13.1).
#define PONDSIM_LAB_FAST_NAMESPACE avx512
#define PONDSIM_LAB_FAST_NAME "AVX-512"
#include "sim/lab/lab_fast_stages.cpp"
