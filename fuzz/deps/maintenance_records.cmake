set(WM_FUZZ_DEPS maintenance)
