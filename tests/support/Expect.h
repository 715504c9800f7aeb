#pragma once
// Assertions shared by the unit tests.
#include <gtest/gtest.h>

#include <QString>

#include "base/HelperError.h"

/// Runs `body` and checks that it throws a Failure whose text is `expected`.
#define EXPECT_FAILURE_TEXT(body, expected)                                         \
  do {                                                                              \
    try {                                                                           \
      body;                                                                         \
      ADD_FAILURE() << "no failure; expected: " << QString(expected).toStdString(); \
    } catch (const Failure& failure_) {                                             \
      EXPECT_EQ(failure_.localizedDescription(), QString(expected));                \
    }                                                                               \
  } while (false)
