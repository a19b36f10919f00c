set(WM_BENCH_DEPS crypto)
