set(WM_FUZZ_DEPS policy core)
