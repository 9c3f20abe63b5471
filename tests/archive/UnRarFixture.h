#pragma once
// The frame of the extractor's tests: our libunrar.so loaded once per suite, a temporary folder
// with its "out" target, and a recorder of the component's errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "UnRarTestSupport.h"
#include "archive/aknUnRar.h"

class TUnRarFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(InitUnRarLibrary(UNRAR_LIB_DIR)); }
  static void TearDownTestSuite() { DoneUnRarLibrary(); }

  void SetUp() override {
    Out = Temp.File("out");
    std::filesystem::create_directories(Out);
  }
  // Everything of `archive`, into Out, its errors recorded.
  void PrepareRun(TUnRar& u, const std::string& archive) {
    Log.Attach(u);
    u.SetArchiveFile(archive);
    u.SetExtractDir(Out);
    u.SetFileSpec({"*.*"});
  }

  TTempDir Temp;
  std::string Out;
  TEventLog Log;
};
