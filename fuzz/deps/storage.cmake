set(WM_FUZZ_DEPS storage)
