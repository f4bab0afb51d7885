#include "signing/data_signed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <tuple>

#include "tests/support/fake_library.h"
#include "text/base64.h"

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
};

// The library calls, "Init1 Login" for "AvCmInit 1", "AvCmLogin".
Calls calls(const std::string& names) {
  Calls all;
  std::istringstream in(names);
  for (std::string name; in >> name;) {
    const bool init = name.rfind("Init", 0) == 0;
    all.push_back("AvCm" + (init ? "Init " + name.substr(4) : name));
  }
  return all;
}

// Either action with a session of its own: every handle opened is closed again on every path
// (the host's rows check the successful certificate, a missing key, a failed sign or close).
TEST_F(DataSignedTest, OwnSessionKeepsCallOrderAndCleansUp) {
  const struct {
    const char* name;
    bool sign;  // signData, else getCertificate
    std::string faults;
    std::u16string container;
    std::u16string description;  // empty: success
    std::string calls;
  } cases[] = {
      {"startup", false, "AvCmInit=0x101", u"C1", u"Key container not found", "Init1 GetErrorInfo"},
      {"object info", false, "AvCmGetObjectInfo=0x104", u"C1", u"Invalid handle",
       "Init1 Login GetObjectInfo GetErrorInfo Logout Init2"},
      {"certificate size", false, "AvCmGetCertAttr=0x107@1", u"C1", u"Buffer too small",
       "Init1 Login GetObjectInfo GetCertAttr GetErrorInfo CloseHandle Logout Init2"},
      {"certificate fetch", false, "AvCmGetCertAttr=0x107@2", u"C1", u"Buffer too small",
       "Init1 Login GetObjectInfo GetCertAttr GetCertAttr GetErrorInfo CloseHandle Logout Init2"},
      {"unknown code", false, "AvCmGetObjectInfo=0x1FF", u"C1", u"unknow error",
       "Init1 Login GetObjectInfo GetErrorInfo Logout Init2"},
      {"signature", true, "", u"C1", u"",
       "Init1 Login OpenMsg MsgSign GetMsg GetMsg CloseHandle Logout Init2"},
      {"open: no close", true, "AvCmOpenMsg=0x104", u"C1", u"Invalid handle",
       "Init1 Login OpenMsg GetErrorInfo Logout Init2"},
      {"signature size", true, "AvCmGetMsg=0x108@1", u"C1", u"Message not signed",
       "Init1 Login OpenMsg MsgSign GetMsg GetErrorInfo CloseHandle Logout Init2"},
      {"signature fetch", true, "AvCmGetMsg=0x107@2", u"C1", u"Buffer too small",
       "Init1 Login OpenMsg MsgSign GetMsg GetMsg GetErrorInfo CloseHandle Logout Init2"},
  };
  const std::string data = dir_.path() + "/data.bin";
  std::ofstream(data, std::ios::binary);  // an empty file is handed to the library all the same
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake_.setFaults(c.faults);
    fake_.clearCalls();
    std::u16string description = u"untouched", output = u"untouched";
    const bool ok =
        c.sign ? DataSigned::signData(5, c.container, wide(data), false, description, output)
               : DataSigned::getCertificate(77, c.container, false, description, output);
    EXPECT_EQ(ok, c.description.empty());
    EXPECT_EQ(fake_.calls(), calls(c.calls));
    EXPECT_EQ(description, ok ? u"untouched" : c.description);
    EXPECT_EQ(output, ok ? base64Of("SIGNED:C1:0:cbf29ce484222325") : u"untouched");
  }
}

TEST_F(DataSignedTest, SignDataRejectsBadPathsBeforeSigning) {
  const std::string fifo = dir_.path() + "/fifo";  // without a writer: must not wait
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const std::tuple<std::u16string, std::u16string, std::string> cases[] = {
      {u"", u"Bad parameter fileData in action getSignature", ""},
      {wide(dir_.path() + "/absent.bin"), u"Error open file data", "Init1 Login Logout Init2"},
      {wide(fifo), u"Error open file data", "Init1 Login Logout Init2"},
  };
  for (const auto& [path, expected, made] : cases) {
    for (bool useHandle : {false, true}) {
      fake_.clearCalls();
      std::u16string description, signature;
      EXPECT_FALSE(DataSigned::signData(0, u"C1", path, useHandle, description, signature));
      EXPECT_EQ(description, expected);
      EXPECT_TRUE(useHandle || fake_.calls() == calls(made)) << made;
    }
  }
}

// A session without a container name is logged into the default one; closing it always shuts the
// library down and reports the last failure.
TEST_F(DataSignedTest, SessionOfTheDefaultContainerClosesReportingTheLastFailure) {
  const std::pair<std::string, std::u16string> cases[] = {
      {"", u"untouched"},
      {"AvCmLogout=0x104", u"Invalid handle"},
      {"AvCmLogout=0x104,AvCmInit=0x105", u"Library not initialised"},
  };
  for (const auto& [faults, expected] : cases) {
    SCOPED_TRACE(faults);
    std::u16string description = u"untouched", certificate;
    std::uint32_t handle = 0;
    ASSERT_TRUE(DataSigned::openProvider(u"", description, handle));
    ASSERT_TRUE(DataSigned::getCertificate(handle, u"", true, description, certificate));
    EXPECT_EQ(certificate, base64Of("CERT:default"));
    fake_.clearCalls();
    fake_.setFaults(faults);
    EXPECT_EQ(DataSigned::closeProvider(handle, description), faults.empty());
    EXPECT_EQ(description, expected);
    Calls made = fake_.calls();
    made.erase(std::remove(made.begin(), made.end(), "AvCmGetErrorInfo"), made.end());
    EXPECT_EQ(made, calls("Logout Init2"));
    fake_.setFaults("");
  }
}

}  // namespace
