set(WM_BENCH_DEPS fs)
