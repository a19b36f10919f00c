set(WM_BENCH_DEPS ui status policy core)
