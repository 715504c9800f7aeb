#include "base/HelperError.h"

#include <gtest/gtest.h>

namespace {

TEST(HelperErrorText, DescriptionIsThePayloadOrTheFixedEngineText) {
  EXPECT_EQ(HelperError::invalidRequest(QStringLiteral("x y")).localizedDescription(),
            QStringLiteral("x y"));
  EXPECT_EQ(HelperError::processFailed(QStringLiteral("boom")).localizedDescription(),
            QStringLiteral("boom"));
  EXPECT_EQ(HelperError::engineMissing().localizedDescription(),
            QStringLiteral("Velmora engine is missing. Run the Velmora installer again."));
}

}  // namespace
