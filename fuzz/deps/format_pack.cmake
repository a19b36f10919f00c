set(WM_FUZZ_DEPS format)
