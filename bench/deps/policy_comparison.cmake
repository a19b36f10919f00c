set(WM_BENCH_DEPS policy core)
