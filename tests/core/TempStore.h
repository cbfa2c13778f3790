#pragma once
// A test fixture whose settings store lives in a fresh temporary folder
// (XDG_CONFIG_HOME points there for the test), with helpers to read and
// replace the store file.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "TempTree.h"
#include "settings/Registry.h"

class TTempStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old, hadSaved_ = true;
    ::setenv("XDG_CONFIG_HOME", tree_.Root().c_str(), 1);
  }
  void TearDown() override {
    if (hadSaved_) ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
  }
  std::string StoreText() const {
    std::ifstream in(RegistryStoreFile(), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteStore(const std::string& text) { tree_.Add("tarvelle/registry.ini", text); }

  TTempTree tree_;
  std::string saved_;
  bool hadSaved_ = false;
};
