set(WM_BENCH_DEPS engine storage)
