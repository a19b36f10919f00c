set(WM_BENCH_DEPS maintenance)
