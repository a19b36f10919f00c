set(WM_BENCH_DEPS status)
