// The data source manager against two small sources in a Windows root of their own: the
// manager's own triplets, listing and opening sources, forwarding, the state rules and the
// condition codes, and the failures that can be injected at each step.
#include "twain/twain.h"
#include "win/module_loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace orvax::twain;

namespace {

class DsmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("ORVAX_WINDOWS_DIR", ORVAX_TWAIN_TEST_ROOT, 1);
    unsetenv("ORVAX_TWAIN_FAIL");
    unsetenv("TINY_FAIL_OPEN");
    module_ = orvax::win::LoadLibrary(ORVAX_DSM_PATH);
    ASSERT_NE(module_, nullptr) << orvax::win::LastModuleError();
    entry_ = reinterpret_cast<DSMENTRYPROC>(orvax::win::GetProcAddress(module_, "DSM_Entry"));
    state_ = reinterpret_cast<int (*)(TW_UINT32)>(orvax::win::GetProcAddress(module_, "OrvaxTwainState"));
    ASSERT_NE(entry_, nullptr);
    ASSERT_NE(state_, nullptr);
    std::strcpy(app_.ProductName, "Manager Test");
  }

  void TearDown() override {
    // Steps down from wherever the test stopped, so the next test starts at state 2.
    unsetenv("ORVAX_TWAIN_FAIL");
    if (source_.Id != 0) {
      TW_USERINTERFACE ui{0, 0, nullptr};
      Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
      Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
    }
    Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_);
    orvax::win::FreeLibrary(module_);
  }

  TW_UINT16 Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return entry_(&app_, dest, dg, dat, msg, data);
  }
  TW_UINT16 Condition(TW_IDENTITY* dest = nullptr) {
    TW_STATUS status{0xFFFF, 0};
    EXPECT_EQ(Call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    return status.ConditionCode;
  }
  void OpenManager() { ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_), TWRC_SUCCESS); }
  std::vector<std::string> Sources() {
    std::vector<std::string> names;
    TW_IDENTITY id{};
    for (TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
         rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id)) {
      names.push_back(id.ProductName);
      ids_.push_back(id.Id);
    }
    return names;
  }
  TW_UINT16 OpenSource(const char* name) {
    source_ = {};
    std::strcpy(source_.ProductName, name);
    const TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_);
    if (rc != TWRC_SUCCESS) source_.Id = 0;
    return rc;
  }
  int TinyCalls() {
    // The open source shares the process's copy of the module.
    orvax::win::HMODULE tiny = orvax::win::LoadLibrary(ORVAX_TWAIN_TEST_ROOT "/TWAIN_32/Tiny/tiny_a.ds");
    auto calls = reinterpret_cast<int (*)()>(orvax::win::GetProcAddress(tiny, "TinyCalls"));
    const int n = calls != nullptr ? calls() : -1;
    orvax::win::FreeLibrary(tiny);
    return n;
  }

  orvax::win::HMODULE module_ = nullptr;
  DSMENTRYPROC entry_ = nullptr;
  int (*state_)(TW_UINT32) = nullptr;
  TW_IDENTITY app_{};
  TW_IDENTITY source_{};
  std::vector<TW_UINT32> ids_;
  void* window_ = reinterpret_cast<void*>(0x1234);
  void* parent_ = window_;
};

TEST_F(DsmTest, OpensAndClosesOnlyInSequence) {
  EXPECT_EQ(state_(0), 2);
  // Nothing is listed before the manager is open.
  TW_IDENTITY id{};
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_SEQERROR);
  EXPECT_EQ(Condition(), TWCC_SUCCESS);  // reading the condition clears it
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_BADVALUE);
  OpenManager();
  EXPECT_EQ(state_(0), 3);
  EXPECT_NE(app_.Id, 0u);
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_SEQERROR);
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_), TWRC_SUCCESS);
  EXPECT_EQ(state_(0), 2);
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_SEQERROR);
}

TEST_F(DsmTest, ListsEverySourceUnderTwain32) {
  OpenManager();
  EXPECT_EQ(Sources(), (std::vector<std::string>{"Tiny Source B", "Tiny Source A"}));  // path order
  ASSERT_EQ(ids_.size(), 2u);
  EXPECT_NE(ids_[0], 0u);
  EXPECT_NE(ids_[0], ids_[1]);
  TW_IDENTITY id{};
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_ENDOFLIST);
  // A root without sources lists none.
  setenv("ORVAX_WINDOWS_DIR", "/nonexistent-orvax-root", 1);
  ids_.clear();
  EXPECT_TRUE(Sources().empty());
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_ENDOFLIST);
}

TEST_F(DsmTest, ForwardsAndFollowsTheSourceThroughATransfer) {
  OpenManager();
  ASSERT_EQ(OpenSource("Tiny Source A"), TWRC_SUCCESS);
  EXPECT_STREQ(source_.ProductName, "Tiny Source A");
  ASSERT_NE(source_.Id, 0u);
  EXPECT_EQ(state_(source_.Id), 4);
  // Out of sequence: refused by the manager, never seen by the source.
  const int before = TinyCalls();
  TW_IMAGEINFO info{};
  EXPECT_EQ(Call(&source_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);
  EXPECT_EQ(Condition(&source_), TWCC_SEQERROR);
  EXPECT_EQ(TinyCalls(), before);
  TW_USERINTERFACE ui{1, 0, window_};
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_FAILURE);
  // Capabilities are negotiated in state 4.
  TW_CAPABILITY cap{CAP_XFERCOUNT, TWON_DONTCARE16, nullptr};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
  EXPECT_EQ(cap.ConType, TWON_ONEVALUE);
  EXPECT_EQ(GlobalFree(cap.hContainer), nullptr);

  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(state_(source_.Id), 5);
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
  EXPECT_EQ(Condition(&source_), TWCC_SEQERROR);
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_SEQERROR);
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_), TWRC_FAILURE);

  // Events: a message of someone else's, then the source's transfer-ready.
  TW_MSG other{window_, 0x0200, 0, 0};
  TW_EVENT event{&other, 0xFFFF};
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
  EXPECT_EQ(event.TWMessage, MSG_NULL);
  TW_MSG ready{window_, 0x7001, 0, 0};
  event = {&ready, 0};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
  EXPECT_EQ(event.TWMessage, MSG_XFERREADY);
  EXPECT_EQ(state_(source_.Id), 6);

  ASSERT_EQ(Call(&source_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
  EXPECT_EQ(info.ImageWidth, 4);
  EXPECT_EQ(info.ImageLength, 3);
  TW_SETUPMEMXFER setup{};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS);
  std::vector<unsigned char> buffer(setup.Preferred);
  TW_IMAGEMEMXFER xfer{};
  xfer.Memory = {TWMF_APPOWNS | TWMF_POINTER, setup.Preferred, buffer.data()};
  EXPECT_EQ(Call(&source_, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer), TWRC_XFERDONE);
  EXPECT_EQ(buffer[11], 220);
  EXPECT_EQ(state_(source_.Id), 7);
  TW_PENDINGXFERS pending{0xFFFF, 0};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 0);
  EXPECT_EQ(state_(source_.Id), 5);

  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
  EXPECT_EQ(state_(source_.Id), 4);
  ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_), TWRC_SUCCESS);
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_STATUS, MSG_GET, &pending), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_BADDEST);
  source_.Id = 0;
  EXPECT_EQ(Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_), TWRC_SUCCESS);
}

TEST_F(DsmTest, ResetGoesBackToStateFive) {
  OpenManager();
  ASSERT_EQ(OpenSource("Tiny Source B"), TWRC_SUCCESS);
  TW_USERINTERFACE ui{1, 0, window_};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
  TW_PENDINGXFERS pending{};
  EXPECT_EQ(Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_FAILURE);  // state 5
  TW_MSG ready{window_, 0x7001, 0, 0};
  TW_EVENT event{&ready, 0};
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
  ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
  EXPECT_EQ(pending.Count, 0);
  EXPECT_EQ(state_(source_.Id), 5);
}

TEST_F(DsmTest, OpenFailuresReportTheirCondition) {
  OpenManager();
  EXPECT_EQ(OpenSource("No Such Source"), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_NODS);
  setenv("TINY_FAIL_OPEN", "5", 1);  // the source refuses and says so itself
  EXPECT_EQ(OpenSource("Tiny Source A"), TWRC_FAILURE);
  EXPECT_EQ(Condition(), TWCC_OPERATIONERROR);
  unsetenv("TINY_FAIL_OPEN");
  EXPECT_EQ(OpenSource("Tiny Source A"), TWRC_SUCCESS);
}

TEST_F(DsmTest, InjectedFailureAtEachStep) {
  struct Case {
    const char* fail;
    TW_UINT16 condition;
  } cases[] = {{"opendsm", TWCC_BUMMER}, {"getfirst", TWCC_BUMMER}, {"opends:5", TWCC_OPERATIONERROR},
               {"enableds", TWCC_BUMMER}, {"closeds", TWCC_BUMMER}, {"closedsm:1", TWCC_BUMMER}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fail);
    setenv("ORVAX_TWAIN_FAIL", c.fail, 1);
    const std::string step = std::string(c.fail).substr(0, std::string(c.fail).find(':'));
    TW_UINT16 rc = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent_);
    if (step == "opendsm") {
      EXPECT_EQ(rc, TWRC_FAILURE);
      EXPECT_EQ(Condition(), c.condition);
      continue;
    }
    ASSERT_EQ(rc, TWRC_SUCCESS);
    TW_IDENTITY id{};
    rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
    if (step == "getfirst") {
      EXPECT_EQ(rc, TWRC_FAILURE);
      EXPECT_EQ(Condition(), c.condition);
    } else {
      rc = OpenSource("Tiny Source A");
      if (step == "opends") {
        EXPECT_EQ(rc, TWRC_FAILURE);
        EXPECT_EQ(Condition(), c.condition);
      } else {
        ASSERT_EQ(rc, TWRC_SUCCESS);
        TW_USERINTERFACE ui{1, 0, window_};
        rc = Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
        if (step == "enableds") {
          EXPECT_EQ(rc, TWRC_FAILURE);
          EXPECT_EQ(Condition(&source_), c.condition);
          EXPECT_EQ(state_(source_.Id), 4);
        } else {
          ASSERT_EQ(rc, TWRC_SUCCESS);
          ASSERT_EQ(Call(&source_, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        }
        rc = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        if (step == "closeds") {
          EXPECT_EQ(rc, TWRC_FAILURE);
          EXPECT_EQ(Condition(), c.condition);
          unsetenv("ORVAX_TWAIN_FAIL");
          ASSERT_EQ(Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_), TWRC_SUCCESS);
        } else {
          ASSERT_EQ(rc, TWRC_SUCCESS);
        }
        source_.Id = 0;
      }
    }
    rc = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_);
    if (step == "closedsm") {
      EXPECT_EQ(rc, TWRC_FAILURE);
      EXPECT_EQ(Condition(), c.condition);
      unsetenv("ORVAX_TWAIN_FAIL");
      rc = Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent_);
    }
    EXPECT_EQ(rc, TWRC_SUCCESS);
    EXPECT_EQ(state_(0), 2);
  }
}

TEST(TwainRecords, GlobalMemoryRoundTrip) {
  TW_HANDLE h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GlobalSize(h), 100u);
  auto* p = static_cast<unsigned char*>(GlobalLock(h));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[99], 0);
  EXPECT_FALSE(GlobalUnlock(h));
  EXPECT_EQ(GlobalFree(h), nullptr);
  std::vector<uint32_t> notABlock(16, 0);
  EXPECT_EQ(GlobalLock(notABlock.data()), nullptr);
}

}  // namespace
