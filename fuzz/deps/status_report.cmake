set(WM_FUZZ_DEPS status policy core)
