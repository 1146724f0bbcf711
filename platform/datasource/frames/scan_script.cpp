#include "scan_script.h"

#include "datasource/ds_twain.h"

#include <QStringList>

namespace orvax::ds {

namespace {

bool ParsePixel(const QString& v, int* type) {
  static const QList<QPair<QString, int>> names = {
      {"bw", twain::TWPT_BW}, {"gray", twain::TWPT_GRAY}, {"grey", twain::TWPT_GRAY},
      {"rgb", twain::TWPT_RGB}, {"cmyk", twain::TWPT_CMYK}, {"hsl", TWPT_HSL}};
  for (const auto& [name, code] : names) {
    if (v == name) {
      *type = code;
      return true;
    }
  }
  return false;
}

bool ParseOption(const QString& key, const QString& value, ScanJob& job) {
  bool ok = true;
  auto number = [&](int low, int high) {
    const int n = value.toInt(&ok);
    ok = ok && n >= low && n <= high;
    return n;
  };
  if (key == "pixel") {
    ok = ParsePixel(value, &job.pixelType);
    if (ok && job.pixelType == twain::TWPT_BW) job.bits = 1;
    if (ok && job.pixelType == TWPT_HSL) job.bits = 16;
  } else if (key == "depth") {
    job.bits = number(1, 16);
    ok = ok && (job.bits == 1 || job.bits == 8 || job.bits == 16);
  } else if (key == "width") job.width = number(1, 20000);
  else if (key == "height") job.height = number(1, 20000);
  else if (key == "dpi") job.dpi = number(1, 32767);
  else if (key == "planar") job.planar = number(0, 1) != 0;
  else if (key == "native") job.native = number(0, 1) != 0;
  else if (key == "strip") job.stripRows = number(1, 20000);
  else if (key == "frame") ok = ParseFrameKind(value, &job.frame);
  else if (key == "holder") job.holder = value;
  else if (key == "area") {
    const QStringList parts = value.split(',');
    double v[4] = {0, 0, 0, 0};
    ok = parts.size() == 4;
    for (int i = 0; ok && i < 4; ++i) v[i] = parts[i].toDouble(&ok);
    ok = ok && v[0] >= 0 && v[1] >= 0 && v[2] > 0 && v[3] > 0 && v[0] + v[2] <= 1 + 1e-9 && v[1] + v[3] <= 1 + 1e-9;
    if (ok) job.area = QRectF(v[0], v[1], v[2], v[3]);
  } else if (key == "film") ok = ParseFilm(value, &job.film);
  else if (key == "filmtype") {
    FilmType type;
    ok = ParseFilmType(value, &type);
    if (ok) job.filmType = type;
  }
  else if (key == "cancel-after") job.cancelAfter = number(1, 1000000);
  else if (key == "fail-strip") job.failStrip = number(1, 1000000);
  else if (key == "bad-strip") {
    if (value == "outside") job.badStrip = ScanJob::BadStrip::Outside;
    else if (value == "oversize") job.badStrip = ScanJob::BadStrip::Oversize;
    else ok = false;
  } else if (key == "autosave") {
    job.autoSaveSet = true;
    job.autoSaveFormat = number(-32768, 32767);
  } else if (key == "folder") job.autoSaveFolder = value;
  else if (key == "stem") job.autoSaveStem = value;
  else if (key == "quality") job.autoSaveQuality = number(-32768, 32767);
  else ok = false;
  return ok;
}

}  // namespace

std::optional<QList<ScriptAction>> ParseScript(const QString& text, QString* error) {
  QList<ScriptAction> actions;
  const QStringList lines = text.split('\n');
  for (int i = 0; i < lines.size(); ++i) {
    const QString line = lines[i].trimmed();
    if (line.isEmpty() || line.startsWith('#')) continue;
    auto fail = [&](const QString& why) {
      if (error != nullptr) *error = QStringLiteral("line %1: %2").arg(i + 1).arg(why);
      return std::nullopt;
    };
    QStringList words = line.split(' ', Qt::SkipEmptyParts);
    const QString verb = words.takeFirst();
    ScriptAction action;
    if (verb == "close" || verb == "quit") {
      if (!words.isEmpty()) return fail("no options expected");
      action.kind = verb == "close" ? ScriptAction::Kind::Close : ScriptAction::Kind::Quit;
    } else if (verb == "offer") {
      if (words.size() != 1 || !(words[0] == "native" || words[0] == "memory" || words[0] == "both"))
        return fail("offer native, memory or both");
      action.kind = ScriptAction::Kind::Offer;
      action.offer = words[0];
    } else if (verb == "device") {
      if (words.size() != 1) return fail("device needs one name (virtual or a SANE device)");
      action.kind = ScriptAction::Kind::Device;
      action.device = words[0];
    } else if (verb == "scan" || verb == "feeder") {
      if (verb == "feeder") {
        bool ok = false;
        action.job.count = words.isEmpty() ? 0 : words.takeFirst().toInt(&ok);
        if (!ok || action.job.count < 1 || action.job.count > 1000) return fail("feeder needs a slide count");
      }
      for (const QString& word : words) {
        const qsizetype eq = word.indexOf('=');
        if (eq <= 0) return fail("option without a value: " + word);
        if (!ParseOption(word.left(eq), word.mid(eq + 1), action.job)) return fail("bad option: " + word);
      }
    } else {
      return fail("unknown action: " + verb);
    }
    actions.push_back(action);
  }
  return actions;
}

}  // namespace orvax::ds
