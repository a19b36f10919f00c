set(WM_FUZZ_DEPS app)
