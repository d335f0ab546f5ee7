#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/KilnorPro.h"
#include "engine/Notifications.h"
#include "engine/platform/Clock.h"

using namespace std::chrono_literals;

namespace kilnor {

namespace {

// A component with an owner whose four completion events log what they got.
class OwnedComponent : public ::testing::Test {
 protected:
  OwnedComponent() : kp(&owner) {
    kp.SetOnEraseDone([this](void* sender, std::uint8_t device, bool failed) {
      Log(sender, "erase " + std::to_string(device) + " " + std::to_string(failed));
    });
    kp.SetOnWriteDone([this](void* sender, std::uint8_t device, bool failed) {
      Log(sender, "write " + std::to_string(device) + " " + std::to_string(failed));
    });
    kp.SetOnVerifyDone([this](void* sender, std::uint8_t device, std::int32_t file, bool failed) {
      Log(sender, "verify " + std::to_string(device) + " " + std::to_string(file) + " " +
                      std::to_string(failed));
    });
    kp.SetOnGenerateSmartReferencesDone([this](void* sender, bool failed, std::int32_t saved) {
      Log(sender, "smartref " + std::to_string(failed) + " " + std::to_string(saved));
    });
  }

  void Log(void* sender, std::string text) {
    EXPECT_EQ(sender, &kp) << text;
    EXPECT_EQ(std::this_thread::get_id(), ownerThread) << text;
    fired.push_back(std::move(text));
  }

  int owner = 0;
  TKilnorPro kp;
  std::thread::id ownerThread = std::this_thread::get_id();
  std::vector<std::string> fired;
};

}  // namespace

TEST_F(OwnedComponent, MessagesBecomeEventsWithTheirArguments) {
  struct Case {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    const char* event;
  };
  const Case cases[] = {
      {WM_ERASEDONE, 0, 0, "erase 0 0"},
      {WM_ERASEDONE, 0, 1, "erase 0 1"},
      {WM_ERASEDONE, 0, -1, "erase 0 1"},
      {WM_WRITEDONE, 0, 0, "write 0 0"},
      {WM_WRITEDONE, 0, 7, "write 0 1"},
      {WM_VERIFYDONE, 12, 0, "verify 0 12 0"},
      {WM_VERIFYDONE, 12, 1, "verify 0 12 1"},
      {WM_VERIFYDONE, 0xFFFFFFFF, 0, "verify 0 -1 0"},
      {WM_VERIFYDONE, static_cast<std::uintptr_t>(-1), 1, "verify 0 -1 1"},
      {WM_SMARTREFDONE, 0, 123456, "smartref 0 123456"},
      {WM_SMARTREFDONE, 0x3A00, 0, "smartref 1 0"},
  };
  for (const Case& c : cases) kp.Notifications()->Post(c.message, c.wParam, c.lParam);
  EXPECT_EQ(kp.DrainNotifications(), std::size(cases));
  ASSERT_EQ(fired.size(), std::size(cases));
  for (std::size_t i = 0; i < fired.size(); ++i) EXPECT_EQ(fired[i], cases[i].event);
}

TEST_F(OwnedComponent, OtherMessagesAndUnassignedEventsFireNothing) {
  kp.SetOnWriteDone({});
  kp.Notifications()->Post(WM_WRITEDONE, 0, 0);
  kp.Notifications()->Post(WM_USER + 105, 0, 0);
  kp.Notifications()->Post(0, 0, 0);
  EXPECT_EQ(kp.DrainNotifications(), 3u);
  EXPECT_TRUE(fired.empty());
}

TEST_F(OwnedComponent, WorkersPostAndTheOwnerFiresInPostingOrder) {
  // The workers' copies, taken when their operations started.
  const TEraseDoneEvent eraseCopy = kp.OnEraseDone();
  const TWriteDoneEvent writeCopy = kp.OnWriteDone();
  const TVerifyDoneEvent verifyCopy = kp.OnVerifyDone();
  const TSmartRefGenDoneEvent smartCopy = kp.OnGenerateSmartReferencesDone();
  int worker = 0;
  std::atomic<bool> reported{false};
  kp.Workers.Start([&](std::stop_token) {
    ReportSmartRefDone(kp.CDFiles.hWNDFE, smartCopy, &worker, 0, 4096);
    ReportVerifyDone(kp.CDFiles.hWNDFE, verifyCopy, &worker, 3, 0, false);
    ReportVerifyDone(kp.CDFiles.hWNDFE, verifyCopy, &worker, 3, 1, true);
    ReportVerifyDone(kp.CDFiles.hWNDFE, verifyCopy, &worker, 3, kVerifySummary, true);
    ReportEraseDone(kp.Device.hWNDFE, eraseCopy, &worker, true);
    ReportWriteDone(kp.CDFiles.hWNDFE, writeCopy, &worker, false);
    reported = true;
  });
  while (!reported) kp.WaitForNotifications(10ms);
  EXPECT_TRUE(fired.empty()) << "nothing fires before the owner drains";
  EXPECT_EQ(kp.DrainNotifications(), 6u);
  EXPECT_EQ(fired, (std::vector<std::string>{"smartref 0 4096", "verify 0 0 0", "verify 0 1 1",
                                             "verify 0 -1 1", "erase 0 1", "write 0 0"}));
}

TEST_F(OwnedComponent, AnUnassignedCopyReportsNothing) {
  ReportWriteDone(kp.CDFiles.hWNDFE, TWriteDoneEvent{}, nullptr, true);
  ReportEraseDone(kp.Device.hWNDFE, TEraseDoneEvent{}, nullptr, true);
  EXPECT_FALSE(kp.Notifications()->Pending());
}

TEST_F(OwnedComponent, TheHandlerAssignedAtDeliveryIsTheOneThatRuns) {
  ReportWriteDone(kp.CDFiles.hWNDFE, kp.OnWriteDone(), &kp, true);
  std::string late;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool failed) { late = failed ? "failed" : "ok"; });
  kp.DrainNotifications();
  EXPECT_EQ(late, "failed");
  EXPECT_TRUE(fired.empty());
}

TEST_F(OwnedComponent, AHandlerMayReplaceItselfAndStartTheNextOperation) {
  int calls = 0;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool) {
    ++calls;
    kp.SetOnWriteDone({});
    ReportEraseDone(kp.Device.hWNDFE, kp.OnEraseDone(), &kp, false);
  });
  kp.Notifications()->Post(WM_WRITEDONE, 0, 0);
  kp.Notifications()->Post(WM_WRITEDONE, 0, 0);
  EXPECT_EQ(kp.DrainNotifications(), 2u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(kp.DrainNotifications(), 1u);
  EXPECT_EQ(fired, std::vector<std::string>{"erase 0 0"});
}

TEST(OrphanComponent, HandlersRunOnTheWorkerThreadWithTheWorkerAsSender) {
  TKilnorPro kp;
  std::thread::id ranOn;
  void* sentBy = nullptr;
  std::int32_t fileId = 0;
  std::uint8_t deviceId = 0;
  kp.SetOnVerifyDone([&](void* sender, std::uint8_t device, std::int32_t file, bool) {
    ranOn = std::this_thread::get_id();
    sentBy = sender;
    deviceId = device;
    fileId = file;
  });
  const TVerifyDoneEvent copy = kp.OnVerifyDone();
  int worker = 0;
  std::thread::id workerThread;
  std::atomic<bool> done{false};
  kp.Workers.Start([&](std::stop_token) {
    workerThread = std::this_thread::get_id();
    ReportVerifyDone(kp.CDFiles.hWNDFE, copy, &worker, 2, kVerifySummary, false);
    done = true;
  });
  while (!done) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(ranOn, workerThread);
  EXPECT_NE(ranOn, std::this_thread::get_id());
  EXPECT_EQ(sentBy, &worker);
  EXPECT_EQ(deviceId, 2) << "the selected device, handed over by the worker";
  EXPECT_EQ(fileId, -1);
  EXPECT_EQ(kp.DrainNotifications(), 0u);
}

TEST(OrphanComponent, DirectReportsCarryTheMessageArguments) {
  TKilnorPro kp;
  std::vector<std::string> got;
  int worker = 0;
  ReportEraseDone(kp.Device.hWNDFE,
                  [&](void* s, std::uint8_t d, bool f) {
                    got.push_back("erase " + std::to_string(s == &worker) + std::to_string(d) +
                                  std::to_string(f));
                  },
                  &worker, true);
  ReportWriteDone(kp.CDFiles.hWNDFE,
                  [&](void* s, std::uint8_t d, bool f) {
                    got.push_back("write " + std::to_string(s == &kp) + std::to_string(d) +
                                  std::to_string(f));
                  },
                  &kp, false);
  ReportSmartRefDone(kp.CDFiles.hWNDFE,
                     [&](void*, bool f, std::int32_t saved) {
                       got.push_back("smartref " + std::to_string(f) + " " + std::to_string(saved));
                     },
                     &worker, 4, 77);
  EXPECT_EQ(got, (std::vector<std::string>{"erase 101", "write 100", "smartref 1 77"}));
}

TEST(ComponentLifetime, DestructorAbortsAndJoinsARunningWorker) {
  TFakeClock fake;
  TClockOverride use(fake);
  std::atomic<bool> started{false};
  std::atomic<bool> ended{false};
  auto kp = std::make_unique<TKilnorPro>();
  kp->Workers.Start([&, &cd = kp->CDFiles](std::stop_token) {
    started = true;
    while (!cd.Aborted) Clock().sleep_for(5s);  // a drive that stays not ready
    cd.ComponentStatus = stIdle;                 // still touches the record after the abort
    ended = true;
  });
  while (!started) std::this_thread::yield();
  kp.reset();
  EXPECT_TRUE(ended);
}

}  // namespace kilnor
