set(WM_BENCH_DEPS restore)
