// TWAIN_32.DLL, the data source manager. It owns the triplets that open and close the
// manager, list and open the data sources found under the Windows root's TWAIN_32 folder,
// and report its own condition codes; every other triplet goes to the open source's
// DS_Entry. It keeps the session state of the standard (1 to 3 for the manager, 4 to 7 for
// each open source) and refuses a triplet that is out of sequence with TWCC_SEQERROR.
//
// For tests, $ORVAX_TWAIN_FAIL names one step to fail ("opendsm", "getfirst", "opends",
// "enableds", "closeds" or "closedsm"), optionally with the condition code to report after
// a colon ("opends:5"); without one the code is TWCC_BUMMER.
#include "twain/twain.h"
#include "win/module_loader.h"
#include "win/windows_root.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#define ORVAX_TWAIN_EXPORT extern "C" __attribute__((visibility("default")))

using namespace orvax::twain;
namespace fs = std::filesystem;

namespace {

struct FoundSource {
  std::string path;
  TW_IDENTITY identity;
};

struct OpenSource {
  TW_UINT32 id = 0;
  std::string path;
  orvax::win::HMODULE module = nullptr;
  DSENTRYPROC entry = nullptr;
  int state = 4;
  TW_UINT16 condition = TWCC_SUCCESS;  // the manager's own refusal, reported before the source's
  bool hasCondition = false;
};

struct Manager {
  int state = 2;  // loaded
  TW_UINT32 appId = 0;
  TW_UINT16 condition = TWCC_SUCCESS;
  std::vector<FoundSource> found;
  size_t next = 0;
  std::vector<OpenSource> open;
};

Manager g_dsm;

bool EndsWithIgnoringCase(const std::string& text, const std::string& tail) {
  if (text.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) return false;
  }
  return true;
}

// The injected failure for STEP, if any: true and the condition code to report.
bool InjectedFailure(const char* step, TW_UINT16* condition) {
  const char* spec = std::getenv("ORVAX_TWAIN_FAIL");
  if (spec == nullptr) return false;
  const std::string text(spec);
  const std::string name = text.substr(0, text.find(':'));
  if (name != step) return false;
  *condition = TWCC_BUMMER;
  if (const size_t colon = text.find(':'); colon != std::string::npos)
    *condition = static_cast<TW_UINT16>(std::strtoul(text.c_str() + colon + 1, nullptr, 0));
  return true;
}

TW_UINT16 Fail(TW_UINT16 condition) {
  g_dsm.condition = condition;
  return TWRC_FAILURE;
}

// Asks the module at PATH for its identity without keeping it open.
bool ReadIdentity(const std::string& path, TW_IDENTITY* identity) {
  orvax::win::HMODULE module = orvax::win::LoadLibrary(path);
  if (module == nullptr) return false;
  auto entry = reinterpret_cast<DSENTRYPROC>(orvax::win::GetProcAddress(module, "DS_Entry"));
  bool ok = false;
  if (entry != nullptr) {
    *identity = {};
    ok = entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, identity) == TWRC_SUCCESS;
  }
  orvax::win::FreeLibrary(module);
  return ok;
}

// Every data source module (a file ending in ".ds") under TWAIN_32, in path order.
void ScanSources() {
  g_dsm.found.clear();
  g_dsm.next = 0;
  const std::string root = orvax::win::WindowsDirectory();
  if (root.empty()) return;
  std::error_code ec;
  fs::path folder;
  for (fs::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    if (name == "TWAIN_32" && it->is_directory()) folder = it->path();
  }
  if (folder.empty()) return;
  std::vector<std::string> paths;
  for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec) && EndsWithIgnoringCase(it->path().filename().string(), ".ds"))
      paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  TW_UINT32 id = 1;
  for (const std::string& path : paths) {
    FoundSource source{path, {}};
    if (!ReadIdentity(path, &source.identity)) continue;
    source.identity.Id = id++;
    g_dsm.found.push_back(source);
  }
}

OpenSource* FindOpen(TW_UINT32 id) {
  for (OpenSource& source : g_dsm.open) {
    if (source.id == id) return &source;
  }
  return nullptr;
}

TW_UINT16 OpenDs(TW_IDENTITY* origin, TW_IDENTITY* identity) {
  if (identity == nullptr) return Fail(TWCC_BADVALUE);
  if (g_dsm.found.empty()) ScanSources();
  const FoundSource* chosen = nullptr;
  for (const FoundSource& source : g_dsm.found) {
    const bool byId = identity->Id != 0 && source.identity.Id == identity->Id;
    const bool byName = identity->Id == 0 && identity->ProductName[0] != '\0' &&
                        std::strncmp(source.identity.ProductName, identity->ProductName, 34) == 0;
    if (byId || byName) {
      chosen = &source;
      break;
    }
  }
  // No identity given: the first source stands in for the default one.
  if (chosen == nullptr && identity->Id == 0 && identity->ProductName[0] == '\0' && !g_dsm.found.empty())
    chosen = &g_dsm.found.front();
  if (chosen == nullptr) return Fail(TWCC_NODS);
  if (FindOpen(chosen->identity.Id) != nullptr) return Fail(TWCC_SEQERROR);
  if (TW_UINT16 condition; InjectedFailure("opends", &condition)) return Fail(condition);

  OpenSource source;
  source.id = chosen->identity.Id;
  source.path = chosen->path;
  source.module = orvax::win::LoadLibrary(chosen->path);
  if (source.module == nullptr) return Fail(TWCC_NODS);
  source.entry = reinterpret_cast<DSENTRYPROC>(orvax::win::GetProcAddress(source.module, "DS_Entry"));
  if (source.entry == nullptr) {
    orvax::win::FreeLibrary(source.module);
    return Fail(TWCC_NODS);
  }
  *identity = chosen->identity;
  if (source.entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, identity) != TWRC_SUCCESS) {
    // The source says why; the application asks the manager.
    TW_STATUS status{};
    source.entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    orvax::win::FreeLibrary(source.module);
    return Fail(status.ConditionCode != TWCC_SUCCESS ? status.ConditionCode : TWCC_BUMMER);
  }
  identity->Id = source.id;
  g_dsm.open.push_back(source);
  return TWRC_SUCCESS;
}

TW_UINT16 CloseDs(TW_IDENTITY* origin, TW_IDENTITY* identity) {
  if (identity == nullptr) return Fail(TWCC_BADVALUE);
  OpenSource* source = FindOpen(identity->Id);
  if (source == nullptr) return Fail(TWCC_NODS);
  if (source->state != 4) return Fail(TWCC_SEQERROR);
  if (TW_UINT16 condition; InjectedFailure("closeds", &condition)) return Fail(condition);
  const TW_UINT16 rc = source->entry(origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, identity);
  if (rc != TWRC_SUCCESS) {
    TW_STATUS status{};
    source->entry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return Fail(status.ConditionCode != TWCC_SUCCESS ? status.ConditionCode : TWCC_BUMMER);
  }
  orvax::win::FreeLibrary(source->module);
  std::erase_if(g_dsm.open, [id = identity->Id](const OpenSource& s) { return s.id == id; });
  return TWRC_SUCCESS;
}

// The triplets the manager answers itself (no destination).
TW_UINT16 ManagerTriplet(TW_IDENTITY* origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (dg != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  switch (dat) {
    case DAT_PARENT:
      if (data == nullptr) return Fail(TWCC_BADVALUE);
      if (msg == MSG_OPENDSM) {
        if (g_dsm.state != 2) return Fail(TWCC_SEQERROR);
        if (TW_UINT16 condition; InjectedFailure("opendsm", &condition)) return Fail(condition);
        g_dsm.state = 3;
        g_dsm.appId = 1;
        if (origin != nullptr) origin->Id = g_dsm.appId;
        g_dsm.found.clear();
        return TWRC_SUCCESS;
      }
      if (msg == MSG_CLOSEDSM) {
        if (g_dsm.state != 3 || !g_dsm.open.empty()) return Fail(TWCC_SEQERROR);
        if (TW_UINT16 condition; InjectedFailure("closedsm", &condition)) return Fail(condition);
        g_dsm.state = 2;
        g_dsm.appId = 0;
        return TWRC_SUCCESS;
      }
      return Fail(TWCC_BADPROTOCOL);
    case DAT_STATUS: {
      if (msg != MSG_GET || data == nullptr) return Fail(TWCC_BADVALUE);
      auto* status = static_cast<TW_STATUS*>(data);
      status->ConditionCode = g_dsm.condition;
      status->Reserved = 0;
      g_dsm.condition = TWCC_SUCCESS;
      return TWRC_SUCCESS;
    }
    case DAT_IDENTITY: {
      if (g_dsm.state != 3) return Fail(TWCC_SEQERROR);
      auto* identity = static_cast<TW_IDENTITY*>(data);
      if (identity == nullptr) return Fail(TWCC_BADVALUE);
      switch (msg) {
        case MSG_GETFIRST:
          if (TW_UINT16 condition; InjectedFailure("getfirst", &condition)) return Fail(condition);
          ScanSources();
          [[fallthrough]];
        case MSG_GETNEXT:
          if (msg == MSG_GETNEXT && g_dsm.found.empty()) return Fail(TWCC_SEQERROR);
          if (g_dsm.next >= g_dsm.found.size()) return TWRC_ENDOFLIST;
          *identity = g_dsm.found[g_dsm.next++].identity;
          return TWRC_SUCCESS;
        case MSG_GETDEFAULT:
          if (g_dsm.found.empty()) ScanSources();
          if (g_dsm.found.empty()) return Fail(TWCC_NODS);
          *identity = g_dsm.found.front().identity;
          return TWRC_SUCCESS;
        case MSG_OPENDS: return OpenDs(origin, identity);
        case MSG_CLOSEDS: return CloseDs(origin, identity);
        case MSG_USERSELECT: return TWRC_CANCEL;  // no selection dialog
        default: return Fail(TWCC_BADPROTOCOL);
      }
    }
    default: return Fail(TWCC_BADPROTOCOL);
  }
}

// States in which a forwarded triplet may be sent, as a range.
bool Allowed(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, int state) {
  auto in = [state](int low, int high) { return state >= low && state <= high; };
  if (dat >= DAT_CUSTOMBASE) return in(4, 7);
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_CAPABILITY: return msg == MSG_SET || msg == MSG_RESET ? in(4, 4) : in(4, 7);
      case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY) return in(4, 4);
        if (msg == MSG_DISABLEDS) return in(5, 5);
        return false;
      case DAT_EVENT: return in(5, 7);
      case DAT_SETUPMEMXFER: return in(4, 6);
      case DAT_PENDINGXFERS:
        if (msg == MSG_ENDXFER) return in(6, 7);
        if (msg == MSG_RESET) return in(6, 6);
        return in(4, 7);
      default: return in(4, 7);
    }
  }
  if (dg == DG_IMAGE) {
    switch (dat) {
      case DAT_IMAGEINFO: return in(6, 7);
      case DAT_IMAGEMEMXFER: return in(6, 7);
      case DAT_IMAGENATIVEXFER: return in(6, 6);
      default: return in(4, 7);
    }
  }
  return in(4, 7);
}

// The state after a forwarded triplet returned RC.
void Advance(OpenSource& source, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, TW_UINT16 rc) {
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE) {
    if (msg == MSG_ENABLEDS && (rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS)) source.state = 5;
    if (msg == MSG_DISABLEDS && rc == TWRC_SUCCESS) source.state = 4;
  } else if (dg == DG_CONTROL && dat == DAT_EVENT && rc == TWRC_DSEVENT && data != nullptr) {
    if (static_cast<TW_EVENT*>(data)->TWMessage == MSG_XFERREADY && source.state == 5) source.state = 6;
  } else if (dg == DG_IMAGE && (dat == DAT_IMAGEMEMXFER || dat == DAT_IMAGENATIVEXFER)) {
    if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE || rc == TWRC_CANCEL) source.state = 7;
  } else if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS && rc == TWRC_SUCCESS && data != nullptr) {
    if (msg == MSG_ENDXFER) source.state = static_cast<TW_PENDINGXFERS*>(data)->Count != 0 ? 6 : 5;
    if (msg == MSG_RESET) source.state = 5;
  }
}

TW_UINT16 Forward(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                  TW_MEMREF data) {
  OpenSource* source = FindOpen(dest->Id);
  if (source == nullptr) return Fail(TWCC_BADDEST);
  if (dg == DG_CONTROL && dat == DAT_STATUS && source->hasCondition) {
    if (data == nullptr) return Fail(TWCC_BADVALUE);
    auto* status = static_cast<TW_STATUS*>(data);
    status->ConditionCode = source->condition;
    status->Reserved = 0;
    source->hasCondition = false;
    return TWRC_SUCCESS;
  }
  auto refuse = [source](TW_UINT16 condition) {
    source->condition = condition;
    source->hasCondition = true;
    return TWRC_FAILURE;
  };
  if (!(dg == DG_CONTROL && dat == DAT_STATUS) && !Allowed(dg, dat, msg, source->state))
    return refuse(TWCC_SEQERROR);
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
    if (TW_UINT16 condition; InjectedFailure("enableds", &condition)) return refuse(condition);
  }
  source->hasCondition = false;
  const TW_UINT16 rc = source->entry(origin, dg, dat, msg, data);
  Advance(*source, dg, dat, msg, data, rc);
  return rc;
}

}  // namespace

ORVAX_TWAIN_EXPORT TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat,
                                       TW_UINT16 msg, TW_MEMREF data) {
  if (dest == nullptr) return ManagerTriplet(origin, dg, dat, msg, data);
  if (g_dsm.state != 3) return Fail(TWCC_SEQERROR);
  return Forward(origin, dest, dg, dat, msg, data);
}

// The state of the open source ID (4 to 7), or of the manager (1 to 3) for 0; for tests and
// diagnostics.
ORVAX_TWAIN_EXPORT int OrvaxTwainState(TW_UINT32 id) {
  if (id == 0) return g_dsm.state;
  const OpenSource* source = FindOpen(id);
  return source != nullptr ? source->state : g_dsm.state;
}
