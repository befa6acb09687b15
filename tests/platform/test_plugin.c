/* A library for the dynamic-loader tests: one function, one data symbol. */
int mvx_test_answer(int x);
int mvx_test_answer(int x) { return x * 2 + 1; }
const char mvx_test_marker[] = "plugin";
