// The recorder as an ASPI library, loaded the way a host loads one and
// driven with the request blocks the engine sends.
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "LibraryStateDir.h"
#include "engine/device/WNASPI32.h"

namespace velmor::emu::test {
namespace {

using kilnor::TAspiEvent;
using kilnor::TSRB_ExecSCSICmd;
using kilnor::TSRB_GetDiskInfo;
using kilnor::TSRB_HAInquiry;

// Counts the signals a request's completion event receives.
struct TSignals {
  std::atomic<int> Count{0};
  std::promise<void> First;
  TAspiEvent Event{&Signal, this};

  static void Signal(void* Event) {
    auto* self = static_cast<TSignals*>(static_cast<TAspiEvent*>(Event)->Context);
    if (self->Count.fetch_add(1) == 0) self->First.set_value();
  }
};

class RecorderLibraryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    LibraryStateDir();
    Handle = ::dlopen(RecorderLibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(Handle, nullptr) << ::dlerror();
    SupportInfo = reinterpret_cast<kilnor::GetASPI32SupportInfoFn>(::dlsym(Handle, "GetASPI32SupportInfo"));
    Send = reinterpret_cast<kilnor::SendASPI32CommandFn>(::dlsym(Handle, "SendASPI32Command"));
  }
  static void TearDownTestSuite() {
    if (Handle) ::dlclose(Handle);
    Handle = nullptr;
  }
  void SetUp() override {
    ASSERT_NE(SupportInfo, nullptr);
    ASSERT_NE(Send, nullptr);
  }

  // Sends one command with completion by event and waits for it.
  TSRB_ExecSCSICmd Execute(const TBytes& Cdb, std::uint8_t Flags, std::uint8_t* Buffer, std::uint32_t Length,
                           std::uint8_t Target = 0) {
    TSRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = kilnor::SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = static_cast<std::uint8_t>(Flags | kilnor::SRB_EVENT_NOTIFY);
    srb.SRB_Target = Target;
    srb.SRB_BufLen = Length;
    srb.SRB_BufPointer = Buffer;
    srb.SRB_SenseLen = kilnor::kSenseLength;
    srb.SRB_CDBLen = static_cast<std::uint8_t>(Cdb.size());
    if (!Cdb.empty()) std::memcpy(srb.CDBByte, Cdb.data(), Cdb.size());
    TSignals signals;
    srb.SRB_PostProc = &signals.Event;
    const std::uint32_t returned = Send(&srb);
    EXPECT_EQ(signals.First.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    if (returned != kilnor::SS_PENDING) {
      EXPECT_EQ(returned, srb.SRB_Status);
    }
    EXPECT_EQ(signals.Count.load(), 1) << "the event is signalled exactly once";
    return srb;
  }

  static inline void* Handle = nullptr;
  static inline kilnor::GetASPI32SupportInfoFn SupportInfo = nullptr;
  static inline kilnor::SendASPI32CommandFn Send = nullptr;
};

TEST_F(RecorderLibraryTest, SupportInfoAndHostAdapterInquiryReportOneAdapter) {
  const std::uint32_t info = SupportInfo();
  EXPECT_EQ(info >> 8 & 0xFF, kilnor::SS_COMP);
  EXPECT_EQ(info & 0xFF, 1u);
  TSRB_HAInquiry inquiry{};
  inquiry.SRB_Cmd = kilnor::SC_HA_INQUIRY;
  EXPECT_EQ(Send(&inquiry), kilnor::SS_COMP);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&inquiry)[8], 1) << "adapter count at byte 8";
  inquiry.SRB_HaId = 1;
  EXPECT_EQ(Send(&inquiry), 0x81u) << "no second adapter";
}

TEST_F(RecorderLibraryTest, InquiryCompletesPendingThenSignalled) {
  TBytes reply(64, 0);
  TSRB_ExecSCSICmd srb = Execute(TCdb::Inquiry(64), kilnor::SRB_DIR_IN, reply.data(), 64);
  EXPECT_EQ(srb.SRB_Status, kilnor::SS_COMP);
  EXPECT_EQ(reply[0], 0x05);
  EXPECT_EQ(std::string(reply.begin() + 8, reply.begin() + 14), "VELMOR");
  EXPECT_EQ(TBytes(srb.SenseArea, srb.SenseArea + 32), TBytes(32, 0)) << "success leaves no sense";
}

TEST_F(RecorderLibraryTest, CheckConditionCarriesSenseAndTargetStatus) {
  TBytes block(kBlockSize);
  TSRB_ExecSCSICmd srb = Execute(TCdb::Read10(0x7FFFFFFF, 1), kilnor::SRB_DIR_IN, block.data(), kBlockSize);
  EXPECT_EQ(srb.SRB_Status, kilnor::SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, kilnor::STATUS_CHKCOND);
  EXPECT_EQ(srb.SenseArea[0], 0x70);
  EXPECT_EQ(srb.SenseArea[2], sense::kIllegalRequest);
  EXPECT_EQ(srb.SenseArea[12], 0x21);
}

TEST_F(RecorderLibraryTest, WithoutEventTheCallerPollsTheStatus) {
  TSRB_ExecSCSICmd srb{};
  srb.SRB_Cmd = kilnor::SC_EXEC_SCSI_CMD;
  srb.SRB_CDBLen = 6;
  srb.SRB_SenseLen = kilnor::kSenseLength;
  const std::uint32_t returned = Send(&srb);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  volatile std::uint8_t* status = &srb.SRB_Status;
  while (returned == kilnor::SS_PENDING && *status == kilnor::SS_PENDING && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(*status, kilnor::SS_COMP) << "TEST UNIT READY on the default blank DVD+RW";
}

TEST_F(RecorderLibraryTest, BadRequestsFinishAtOnceAndStillSignal) {
  TSRB_ExecSCSICmd noDevice = Execute(TCdb::TestUnitReady(), 0, nullptr, 0, 5);
  EXPECT_EQ(noDevice.SRB_Status, 0x82) << "no device at target 5";
  TSRB_ExecSCSICmd noCdb = Execute({}, 0, nullptr, 0);
  EXPECT_EQ(noCdb.SRB_Status, 0xE0);
  TSRB_GetDiskInfo disk{};
  disk.SRB_Cmd = kilnor::SC_GET_DISK_INFO;
  EXPECT_NE(Send(&disk), kilnor::SS_COMP) << "no drive letter on this system";
  EXPECT_EQ(Send(nullptr), 0xE0u);
}

}  // namespace
}  // namespace velmor::emu::test
