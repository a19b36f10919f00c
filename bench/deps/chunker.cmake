set(WM_BENCH_DEPS format)
