#include "signing/data_signed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "text/base64.h"
#include "tests/support/fake_library.h"

using vorna::DataSigned;

namespace {

using Calls = std::vector<std::string>;

std::u16string wide(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::u16string base64Of(const std::string& text) {
  return wide(base64Encode(reinterpret_cast<const std::uint8_t*>(text.data()),
                           static_cast<std::uint32_t>(text.size())));
}

class DataSignedTest : public ::testing::Test {
 protected:
  TempDir dir_;
  FakeLibrary fake_{dir_};

  std::u16string writeData(const std::string& bytes) {
    std::string path = dir_.path() + "/data.bin";
    std::ofstream(path, std::ios::binary) << bytes;
    return wide(path);
  }
  std::uint32_t openSession(const std::u16string& container = u"C1") {
    std::u16string description;
    std::uint32_t handle = 0;
    EXPECT_TRUE(DataSigned::openProvider(container, description, handle));
    fake_.clearCalls();
    return handle;
  }
};

struct CertificateCase {
  const char* name;
  std::string faults;
  bool ok;
  std::u16string description;
  Calls calls;
};

TEST_F(DataSignedTest, GetCertificateWithOwnSessionKeepsCallOrderAndCleansUp) {
  const CertificateCase cases[] = {
      {"success", "", true, u"",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetObjectInfo", "AvCmGetCertAttr", "AvCmGetCertAttr",
        "AvCmCloseHandle", "AvCmLogout", "AvCmInit 2"}},
      {"startup fails", "AvCmInit=0x101", false, u"Key container not found",
       {"AvCmInit 1", "AvCmGetErrorInfo"}},
      {"object info fails", "AvCmGetObjectInfo=0x104", false, u"Invalid handle",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetObjectInfo", "AvCmGetErrorInfo", "AvCmLogout",
        "AvCmInit 2"}},
      {"size query fails", "AvCmGetCertAttr=0x107@1", false, u"Buffer too small",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetObjectInfo", "AvCmGetCertAttr", "AvCmGetErrorInfo",
        "AvCmCloseHandle", "AvCmLogout", "AvCmInit 2"}},
      {"second query fails", "AvCmGetCertAttr=0x107@2", false, u"Buffer too small",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetObjectInfo", "AvCmGetCertAttr", "AvCmGetCertAttr",
        "AvCmGetErrorInfo", "AvCmCloseHandle", "AvCmLogout", "AvCmInit 2"}},
      {"text lookup fails", "AvCmGetObjectInfo=0x1FF", false, u"unknow error",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetObjectInfo", "AvCmGetErrorInfo", "AvCmLogout",
        "AvCmInit 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.setFaults(c.faults);
    fake_.clearCalls();
    std::u16string description = u"untouched", certificate = u"untouched";
    bool ok = DataSigned::getCertificate(77, u"C1", false, description, certificate);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(fake_.calls(), c.calls);
    if (ok) {
      EXPECT_EQ(description, u"untouched");
      EXPECT_EQ(certificate, base64Of("CERT:C1"));
    } else {
      EXPECT_EQ(description, c.description);
      EXPECT_EQ(certificate, u"untouched");
    }
  }
}

TEST_F(DataSignedTest, GetCertificateWithHandleOpensNoSession) {
  std::uint32_t handle = openSession(u"Alice");
  std::u16string description, certificate;
  ASSERT_TRUE(DataSigned::getCertificate(handle, u"ignored", true, description, certificate));
  EXPECT_EQ(certificate, base64Of("CERT:Alice"));
  EXPECT_EQ(fake_.calls(), (Calls{"AvCmGetObjectInfo", "AvCmGetCertAttr", "AvCmGetCertAttr",
                                  "AvCmCloseHandle"}));

  fake_.clearCalls();
  std::u16string closeDescription;
  ASSERT_TRUE(DataSigned::closeProvider(handle, closeDescription));
  ASSERT_FALSE(DataSigned::getCertificate(handle, u"", true, description, certificate));
  EXPECT_EQ(description, u"Invalid handle");
}

TEST_F(DataSignedTest, ZeroByteCertificateSucceedsWithEmptyText) {
  std::u16string description, certificate = u"untouched";
  ASSERT_TRUE(DataSigned::getCertificate(0, u"empty-cert", false, description, certificate));
  EXPECT_EQ(certificate, u"");
}

struct SignCase {
  const char* name;
  std::string faults;
  std::u16string container;
  bool ok;
  std::u16string description;
  Calls calls;
};

TEST_F(DataSignedTest, SignDataWithOwnSessionKeepsCallOrderAndCleansUp) {
  const Calls open = {"AvCmInit 1", "AvCmLogin"};
  const Calls close = {"AvCmLogout", "AvCmInit 2"};
  auto with = [&](Calls middle) {
    Calls all = open;
    all.insert(all.end(), middle.begin(), middle.end());
    all.insert(all.end(), close.begin(), close.end());
    return all;
  };
  const SignCase cases[] = {
      {"success", "", u"C1", true, u"",
       with({"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmGetMsg", "AvCmCloseHandle"})},
      {"login fails: no further call", "", u"missing-key", false, u"Key container not found",
       {"AvCmInit 1", "AvCmLogin", "AvCmGetErrorInfo"}},
      {"open fails: no close", "AvCmOpenMsg=0x104", u"C1", false, u"Invalid handle",
       with({"AvCmOpenMsg", "AvCmGetErrorInfo"})},
      {"signing fails with a non-ASCII text", "", u"sign-fails", false,
       u"Ошибка подписи: ключ недоступен",
       with({"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetErrorInfo", "AvCmCloseHandle"})},
      {"size query fails", "AvCmGetMsg=0x108@1", u"C1", false, u"Message not signed",
       with({"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmGetErrorInfo", "AvCmCloseHandle"})},
      {"fetch fails", "AvCmGetMsg=0x107@2", u"C1", false, u"Buffer too small",
       with({"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmGetMsg", "AvCmGetErrorInfo",
             "AvCmCloseHandle"})},
      {"failed close changes nothing", "AvCmCloseHandle=0x104", u"C1", true, u"",
       with({"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmGetMsg", "AvCmCloseHandle"})},
  };
  std::u16string path = writeData("hello");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.setFaults(c.faults);
    fake_.clearCalls();
    std::u16string description = u"untouched", signature = u"untouched";
    bool ok = DataSigned::signData(5, c.container, path, false, description, signature);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(fake_.calls(), c.calls);
    if (ok) {
      EXPECT_EQ(description, u"untouched");
      EXPECT_EQ(signature, base64Of("SIGNED:C1:5:a430d84680aabd0b"));
    } else {
      EXPECT_EQ(description, c.description);
      EXPECT_EQ(signature, u"untouched");
    }
  }
}

TEST_F(DataSignedTest, SignDataRejectsBadPathsBeforeSigning) {
  const std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  struct Case {
    const char* name;
    std::u16string path;
    std::u16string description;
    Calls calls;
  };
  const Case cases[] = {
      {"empty path: no library call", u"", u"Bad parameter fileData in action getSignature", {}},
      {"missing file", wide(dir_.path() + "/absent.bin"), u"Error open file data",
       {"AvCmInit 1", "AvCmLogin", "AvCmLogout", "AvCmInit 2"}},
      {"a directory", dir_.widePath(), u"Error open file data",
       {"AvCmInit 1", "AvCmLogin", "AvCmLogout", "AvCmInit 2"}},
      {"a FIFO without a writer: no wait", wide(fifo), u"Error open file data",
       {"AvCmInit 1", "AvCmLogin", "AvCmLogout", "AvCmInit 2"}},
      {"a device", u"/dev/zero", u"Error open file data",
       {"AvCmInit 1", "AvCmLogin", "AvCmLogout", "AvCmInit 2"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool useHandle : {false, true}) {
      fake_.clearCalls();
      std::u16string description, signature;
      EXPECT_FALSE(DataSigned::signData(0, u"C1", c.path, useHandle, description, signature));
      EXPECT_EQ(description, c.description);
      if (!useHandle) {
        EXPECT_EQ(fake_.calls(), c.calls);
      }
    }
  }
}

TEST_F(DataSignedTest, EmptyDataFileIsHandedToTheLibrary) {
  std::u16string description, signature;
  ASSERT_TRUE(DataSigned::signData(0, u"C1", writeData(""), false, description, signature));
  EXPECT_EQ(signature, base64Of("SIGNED:C1:0:cbf29ce484222325"));
}

TEST_F(DataSignedTest, SignDataWithHandleUsesThatSession) {
  std::uint32_t handle = openSession(u"Bob");
  std::u16string description, signature;
  ASSERT_TRUE(DataSigned::signData(handle, u"", writeData("hello"), true, description, signature));
  EXPECT_EQ(signature, base64Of("SIGNED:Bob:5:a430d84680aabd0b"));
  EXPECT_EQ(fake_.calls(), (Calls{"AvCmOpenMsg", "AvCmMsgSign", "AvCmGetMsg", "AvCmGetMsg",
                                  "AvCmCloseHandle"}));
  std::u16string ignored;
  DataSigned::closeProvider(handle, ignored);
}

TEST_F(DataSignedTest, CloseProviderReportsTheLastFailure) {
  struct Case {
    const char* name;
    std::string faults;
    bool ok;
    std::u16string description;
  };
  const Case cases[] = {
      {"both succeed", "", true, u"untouched"},
      {"logout fails, shutdown still runs", "AvCmLogout=0x104", false, u"Invalid handle"},
      {"both fail: shutdown's text", "AvCmLogout=0x104,AvCmInit=0x105", false,
       u"Library not initialised"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t handle = openSession();
    fake_.setFaults(c.faults);
    std::u16string description = u"untouched";
    EXPECT_EQ(DataSigned::closeProvider(handle, description), c.ok);
    EXPECT_EQ(description, c.description);
    Calls calls = fake_.calls();
    calls.erase(std::remove(calls.begin(), calls.end(), "AvCmGetErrorInfo"), calls.end());
    EXPECT_EQ(calls, (Calls{"AvCmLogout", "AvCmInit 2"})) << "shutdown always follows";
    fake_.setFaults("");
  }
}

TEST_F(DataSignedTest, OpenProviderWithoutContainerLogsIntoTheDefault) {
  std::u16string description = u"untouched";
  std::uint32_t handle = 0;
  ASSERT_TRUE(DataSigned::openProvider(u"", description, handle));
  EXPECT_EQ(description, u"untouched");
  std::u16string certificate;
  ASSERT_TRUE(DataSigned::getCertificate(handle, u"", true, description, certificate));
  EXPECT_EQ(certificate, base64Of("CERT:default"));
  DataSigned::closeProvider(handle, description);
}

}  // namespace
