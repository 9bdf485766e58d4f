#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Sound plugins that ALSA loads and unloads again leak from their library constructors (see
// tests/lsan.supp); only the slow unwinder sees those stacks through the unloaded libraries.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
