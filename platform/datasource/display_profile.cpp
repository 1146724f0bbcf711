#include "display_profile.h"

#include <dlfcn.h>
#include <xcb/xcb.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace orvax::ds {

namespace {

uint32_t BE32(const QByteArray& b, int at) {
  return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) | (uint32_t(uint8_t(b[at + 2])) << 8) |
         uint8_t(b[at + 3]);
}

// libxcb, loaded when the module first asks: the module must load and run where there is no
// X at all.
struct Xcb {
  decltype(&xcb_connect) connect = nullptr;
  decltype(&xcb_connection_has_error) hasError = nullptr;
  decltype(&xcb_disconnect) disconnect = nullptr;
  decltype(&xcb_get_setup) getSetup = nullptr;
  decltype(&xcb_setup_roots_iterator) roots = nullptr;
  decltype(&xcb_screen_next) nextScreen = nullptr;
  decltype(&xcb_intern_atom) internAtom = nullptr;
  decltype(&xcb_intern_atom_reply) internAtomReply = nullptr;
  decltype(&xcb_get_property) getProperty = nullptr;
  decltype(&xcb_get_property_reply) getPropertyReply = nullptr;
  decltype(&xcb_get_property_value) value = nullptr;
  decltype(&xcb_get_property_value_length) valueLength = nullptr;
  bool ok = false;

  Xcb() {
    void* lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return;
    auto get = [lib](auto& fn, const char* name) {
      fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
      return fn != nullptr;
    };
    ok = get(connect, "xcb_connect") && get(hasError, "xcb_connection_has_error") && get(disconnect, "xcb_disconnect") &&
         get(getSetup, "xcb_get_setup") && get(roots, "xcb_setup_roots_iterator") && get(nextScreen, "xcb_screen_next") &&
         get(internAtom, "xcb_intern_atom") && get(internAtomReply, "xcb_intern_atom_reply") &&
         get(getProperty, "xcb_get_property") && get(getPropertyReply, "xcb_get_property_reply") &&
         get(value, "xcb_get_property_value") && get(valueLength, "xcb_get_property_value_length");
  }
};

// The bytes of the _ICC_PROFILE property of the default screen's root window; empty when
// there is no display or no property.
QByteArray RootWindowProfile() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return {};
  static const Xcb xcb;
  if (!xcb.ok) return {};
  int screenNumber = 0;
  xcb_connection_t* c = xcb.connect(nullptr, &screenNumber);
  QByteArray bytes;
  if (c != nullptr && xcb.hasError(c) == 0) {
    xcb_screen_iterator_t it = xcb.roots(xcb.getSetup(c));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb.nextScreen(&it);
    static const char kName[] = "_ICC_PROFILE";
    xcb_intern_atom_reply_t* atom = it.rem > 0 ? xcb.internAtomReply(c, xcb.internAtom(c, 1, sizeof kName - 1, kName), nullptr) : nullptr;
    if (atom != nullptr && atom->atom != XCB_ATOM_NONE) {
      // Up to 64 MB, in 32-bit units.
      xcb_get_property_reply_t* reply =
          xcb.getPropertyReply(c, xcb.getProperty(c, 0, it.data->root, atom->atom, XCB_GET_PROPERTY_TYPE_ANY, 0, 1u << 24), nullptr);
      if (reply != nullptr && reply->format == 8)
        bytes = QByteArray(static_cast<const char*>(xcb.value(reply)), xcb.valueLength(reply));
      std::free(reply);
    }
    std::free(atom);
  }
  if (c != nullptr) xcb.disconnect(c);
  return bytes;
}

}  // namespace

bool IsIccProfile(const QByteArray& bytes, QString* why) {
  auto fail = [why](const char* text) {
    if (why != nullptr) *why = QString::fromLatin1(text);
    return false;
  };
  if (bytes.size() < 132) return fail("shorter than a profile header");
  if (BE32(bytes, 36) != 0x61637370u) return fail("no \"acsp\" signature");
  const uint32_t size = BE32(bytes, 0);
  if (size < 132 || size > uint32_t(bytes.size())) return fail("its declared size does not match its length");
  if (uint64_t(BE32(bytes, 128)) * 12 > size - 132) return fail("its tag table runs past its end");
  return true;
}

QString DesktopDisplayProfile() {
  const QByteArray bytes = RootWindowProfile();
  if (bytes.isEmpty()) return {};
  QString why;
  if (!IsIccProfile(bytes, &why)) {
    std::fprintf(stderr, "Orvax Scan data source: the display's _ICC_PROFILE property is not an ICC profile (%s); "
                 "the monitor profile stays the sRGB default\n", why.toLocal8Bit().constData());
    return {};
  }
  const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/orvax");
  const QString path = dir + QStringLiteral("/display.icc");
  QFile existing(path);
  if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes.left(int(BE32(bytes, 0)))) return path;
  QSaveFile out(path);
  if (!QDir().mkpath(dir) || !out.open(QIODevice::WriteOnly) || out.write(bytes.left(int(BE32(bytes, 0)))) < 0 ||
      !out.commit()) {
    std::fprintf(stderr, "Orvax Scan data source: cannot keep the display's profile in %s (%s); "
                 "the monitor profile stays the sRGB default\n", path.toLocal8Bit().constData(),
                 out.errorString().toLocal8Bit().constData());
    return {};
  }
  return path;
}

}  // namespace orvax::ds
