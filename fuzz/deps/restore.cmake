set(WM_FUZZ_DEPS restore)
