set(WM_FUZZ_DEPS core policy)
