set(WM_BENCH_DEPS storage)
