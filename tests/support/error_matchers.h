// Expectations on the library's typed errors: class, number and exact text.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "filt/fft.h"

// Runs `statement` and checks that it throws exactly `ErrorClass` with the
// given message (nullptr: no text).
#define EXPECT_VF_ERROR(statement, ErrorClass, expectedText)             \
  do {                                                                   \
    bool thrown_ = false;                                                \
    try {                                                                \
      statement;                                                         \
    } catch (const ErrorClass& e_) {                                     \
      thrown_ = true;                                                    \
      EXPECT_EQ(typeid(e_), typeid(ErrorClass));                         \
      const char* expected_ = (expectedText);                            \
      if (expected_ == nullptr)                                          \
        EXPECT_EQ(e_.text(), nullptr);                                   \
      else                                                               \
        EXPECT_STREQ(e_.text(), expected_);                              \
    }                                                                    \
    EXPECT_TRUE(thrown_) << "expected " #ErrorClass " from " #statement; \
  } while (0)
