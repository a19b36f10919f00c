set(WM_BENCH_DEPS statusviews)
