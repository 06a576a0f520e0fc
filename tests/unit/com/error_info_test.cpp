#include <gtest/gtest.h>

#include <thread>

#include "qmos/error_info.h"

using namespace qmos;

TEST(ErrorInfo, GetHandsOverAndClears) {
  ClearErrorInfo();
  ErrorInfo info;
  info.description = "old";
  EXPECT_EQ(GetErrorInfo(info), S_FALSE);
  EXPECT_TRUE(info.description.empty());

  EXPECT_EQ(ReportError(E_FAIL, IID_IDispatch, "Test.Source", "first"), E_FAIL);
  ReportError(E_FAIL, IID_IDispatch, "Test.Source", "second");  // replaces the first
  ASSERT_EQ(GetErrorInfo(info), S_OK);
  EXPECT_EQ(info.description, "second");
  EXPECT_EQ(info.source, "Test.Source");
  EXPECT_EQ(info.iid, IID_IDispatch);
  EXPECT_FALSE(HasErrorInfo());
  EXPECT_EQ(GetErrorInfo(info), S_FALSE);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
  ClearErrorInfo();
  ReportError(E_FAIL, IID_NULL, "main", "main thread");
  std::string otherSaw, otherKept;
  std::thread other([&] {
    ErrorInfo info;
    if (GetErrorInfo(info) == S_OK) otherSaw = info.description;
    ReportError(E_FAIL, IID_NULL, "other", "other thread");
    if (GetErrorInfo(info) == S_OK) otherKept = info.description;
  });
  other.join();
  EXPECT_EQ(otherSaw, "");
  EXPECT_EQ(otherKept, "other thread");
  ErrorInfo info;
  ASSERT_EQ(GetErrorInfo(info), S_OK);
  EXPECT_EQ(info.description, "main thread");
}
