set(WM_FUZZ_DEPS engine)
