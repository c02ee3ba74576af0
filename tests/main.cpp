#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
  // Readers and the writer must not depend on the user's locale.
  std::setlocale(LC_ALL, "");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
