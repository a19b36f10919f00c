set(WM_FUZZ_DEPS crypto)
